#include <gtest/gtest.h>

#include "tests/program_run.hpp"

namespace {

TEST(Run, WorkedPassIsTheFirstRowAndTheRunIsSilent) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("2"));
    const RunResult result = run_ephem(dir);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(dir.read("ZEPO.DAT"),
              "  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
              "  31.4665953  0.926472324\n"
              "  2451546.  22.0847654 -12.8973056  1.39168445  1.85498287  47.3614443\n"
              "  31.3167433  0.927153488\n");
}

}  // namespace

namespace {

TEST(Run, NoPositiveRowCountWritesNoRowButCreatesTheTable) {
    for (const char* count : {"0", "-1", "-2147483648"}) {
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos(count));
        const RunResult result = run_ephem(dir);
        EXPECT_EQ(result.exit_status, 0) << count;
        EXPECT_EQ(result.standard_error, "") << count;
        EXPECT_TRUE(dir.exists("ZEPO.DAT")) << count;
        EXPECT_EQ(dir.read("ZEPO.DAT"), "") << count;
    }
}

TEST(Run, RowsFollowOneDayApart) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("3"));
    ASSERT_EQ(run_ephem(dir).exit_status, 0);
    const std::string table = dir.read("ZEPO.DAT");
    for (const char* time : {"\n  2451546. ", "\n  2451547. "}) {
        EXPECT_NE(table.find(time), std::string::npos) << time;
    }
    EXPECT_EQ(table.find("2451548."), std::string::npos);
}

}  // namespace
