// Reading DATOS.DAT through the built program: equivalent spellings of the same data give the same
// table, and every malformed or short file ends the run with its report before ZEPO.DAT is opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "tests/program_run.hpp"

namespace {

const char* const kTarget = "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n";
const char* const kObserver = "1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0\n";

// Runs ephem on datos and returns the table it wrote; the run must succeed.
std::string table_for(const std::string& datos) {
    TempDir dir;
    dir.write("DATOS.DAT", datos);
    const RunResult result = run_ephem(dir);
    EXPECT_TRUE(result.exited && result.exit_status == 0) << datos << "\n" << result.standard_error;
    EXPECT_EQ(result.standard_error, "");
    return dir.exists("ZEPO.DAT") ? dir.read("ZEPO.DAT") : "(no ZEPO.DAT)";
}

struct Spelling {
    const char* what;
    std::string datos;
};

TEST(ReadDatos, EquivalentSpellingsWriteTheSameTable) {
    const std::string expected = table_for(mars_datos("30"));
    ASSERT_GT(expected.size(), 30u * 80u / 2);
    const Spelling spellings[] = {
        {"commas, tabs and a group over two lines",
         "1.52371034,0.0933941\t1.84969142 , 286.4968315\n49.55953891, 19.3903,2451545.0,0.0,\n" +
             std::string(kObserver) + "2451545.0\n30\n"},
        {"exponent forms, leading zeros and a sign-alone exponent",
         "152371034-8 0.0933941E0 1.84969142d0 2.864968315D+2 4955953891e-8 19.3903 2451545.0 -0\n" +
             std::string(kObserver) + "002451545.000\n3+1\n"},
        {"null values, a slash and a repeat count",
         "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 / no mass given\n"
         "1.00000261 0.01671123 -0.00001531 102.93768193,,-2.47311027 2451545.0 2*\n"
         "\n2451545.0 trailing words\n+30 rows\n"},
        {"CR LF line ends",
         "1.52371034 0.0933941 1.84969142 286.4968315\r\n49.55953891 19.3903 2451545.0 0.0\r\n"
         "1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0\r\n"
         "2451545.0\r\n30\r\n"},
        {"no line feed after the row count", std::string(kTarget) + kObserver + "2451545.0\n30"},
    };
    for (const Spelling& s : spellings) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(table_for(s.datos), expected);
    }
}

TEST(ReadDatos, RowCountIsTruncatedAndOutOfRangeMeansNoRows) {
    EXPECT_EQ(table_for(mars_datos("35-1")), table_for(mars_datos("3")));
    EXPECT_EQ(table_for(mars_datos("3000000000")), "");
    EXPECT_EQ(table_for(mars_datos("1+999")), "");
}

struct Failure {
    const char* what;
    std::string datos;
    std::string first_line;
};

std::string full_report(const std::string& first_line) {
    return first_line +
           "\napparent state: unit 1 named DATOS.DAT\nlast format: list io\n"
           "lately reading sequential formatted external IO\n";
}

void expect_report(const TempDir& dir, const std::string& first_line) {
    const RunResult result = run_ephem(dir);
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(result.term_signal, SIGABRT);
    EXPECT_EQ(result.standard_error, full_report(first_line));
    EXPECT_EQ(result.standard_output, "");
}

TEST(ReadDatos, MalformedOrShortFileEndsTheRunWithItsReport) {
    const std::string orbits = std::string(kTarget) + kObserver;
    const Failure failures[] = {
        {"a title line", "Mars from the Earth\n" + mars_datos("30"), "invalid number: incomprehensible list input"},
        {"only the two orbit records", orbits, "list in: end of file"},
        {"a decimal point in the row count", mars_datos("30.0"), "invalid integer: read unexpected character"},
        {"an exponent letter in the row count", mars_datos("3E1"), "invalid integer: read unexpected character"},
        {"an exponent without digits", orbits + "2451545.0d\n30\n", "exponent field: incomprehensible list input"},
        {"a zero repeat count", "0*1.5\n" + orbits, "bad repetition count: incomprehensible list input"},
        {"an empty file", "", "list in: end of file"},
        {"a file that ends inside a group", "1.52371034 0.0933941\n", "list in: end of file"},
        {"a lone carriage return ends the file inside a group", "1.52371034 0.0933941\r",
         "invalid number: incomprehensible list input"},
        {"a repeat count pending at the end", "1.52371034 7*0.5", "list in: end of file"},
        {"no line feed after read 1", std::string(kTarget, std::strlen(kTarget) - 1), "read start: end of file"},
        {"no line feed after read 2", kTarget + std::string(kObserver, std::strlen(kObserver) - 1),
         "read start: end of file"},
        {"no line feed after read 3", orbits + "2451545.0", "read start: end of file"},
        {"read 3 runs into the end of the file", orbits + "2451545.0 30", "read start: end of file"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        TempDir dir;
        dir.write("DATOS.DAT", f.datos);
        expect_report(dir, f.first_line);
        EXPECT_FALSE(dir.exists("ZEPO.DAT"));
    }
}

TEST(ReadDatos, FailedReadLeavesAnEarlierTableAsItWas) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("30.0"));
    const std::string earlier = "an earlier table\n";
    dir.write("ZEPO.DAT", earlier);
    expect_report(dir, "invalid integer: read unexpected character");
    EXPECT_EQ(dir.read("ZEPO.DAT"), earlier);
}

// A directory opens for reading, but reading it fails: that is reported as the read error it is, not
// as an empty file.
TEST(ReadDatos, ReadErrorIsNotTakenForTheEndOfTheFile) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("DATOS.DAT").c_str(), 0755), 0);
    expect_report(dir, std::string("list in: ") + std::strerror(EISDIR));
    EXPECT_FALSE(dir.exists("ZEPO.DAT"));
}

}  // namespace
