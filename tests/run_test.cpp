#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// --help and --version (or -h and -V) alone answer on standard output and touch no file; any other
// command line is stored and never read, so the run is the ordinary one.
TEST(Run, HelpAndVersionAloneTouchNoFile) {
    const struct {
        std::vector<std::string> arguments;
        const char* output_starts;  // nullptr: an ordinary run
    } lines[] = {
        {{"--help"}, "Usage: ephem\n"},
        {{"--version"}, "ephem "},
        {{"-h"}, "Usage: ephem\n"},
        {{"-V"}, "ephem "},
        {{"--help", "--version"}, nullptr},
        {{"-h", "-V"}, nullptr},
        {{"--verbose"}, nullptr},
        {{"-v"}, nullptr},
        {{"-H"}, nullptr},
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(line.arguments.front() + " and " + std::to_string(line.arguments.size() - 1) + " more");
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos("1"));
        dir.write("ZEPO.DAT", "an older table\n");
        RunOptions options;
        options.arguments = line.arguments;
        const RunResult result = run_ephem(dir, options);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.standard_error, "");
        if (line.output_starts != nullptr) {
            EXPECT_EQ(result.standard_output.rfind(line.output_starts, 0), 0u) << result.standard_output;
            EXPECT_EQ(dir.read("ZEPO.DAT"), "an older table\n");
        } else {
            EXPECT_EQ(result.standard_output, "");
            EXPECT_EQ(dir.read("ZEPO.DAT").rfind("  2451545. ", 0), 0u);
        }
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
