#include "recordio/fatal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "process/io_state.hpp"
#include "recordio/unit_table.hpp"

namespace {

// Sets the I/O state as the beginning of a free-format operation on unit leaves it.
void set_list_state(int unit, int32_t reading) {
    f__init = kInitialised;
    f__curunit = &f__units[unit];
    f__fmtbuf = "list io";
    f__fmtlen = 7;
    f__reading = reading;
    f__sequential = 1;
    f__formatted = 1;
    f__external = 1;
}

void clear_state() {
    f__init = 0;
    f__curunit = nullptr;
    f__fmtbuf = nullptr;
    f__fmtlen = 0;
    f__reading = f__sequential = f__formatted = f__external = 0;
}

std::string report(int32_t n, const char* caller) {
    char text[1024];
    const std::size_t length = format_fatal_report(n, caller, text, sizeof text);
    return std::string(text, length);
}

class FatalReport : public testing::Test {
protected:
    void SetUp() override {
        clear_state();
        f__units[2].name = "ZEPO.DAT";
        f__units[2].named = true;
    }
    void TearDown() override {
        clear_state();
        f__units[2].name.clear();
        f__units[2].named = false;
    }
};

// Not initialised, the report is its first line alone: the caller name and the message of the number.
TEST_F(FatalReport, FirstLineByErrorNumber) {
    const struct {
        int32_t n;
        std::string message;
    } cases[] = {
        {-1, "end of file"},
        {ENOENT, std::strerror(ENOENT)},
        {0, std::strerror(0)},
        {99, std::strerror(99)},
        {100, "error in format"},
        {109, "unit not connected"},
        {111, "truncation failed in endfile"},
        {112, "incomprehensible list input"},
        {113, "out of free space"},
        {114, "unit not connected"},  // two numbers share one text; each still has its entry
        {115, "read unexpected character"},
        {126, "can't read file"},
        {127, "can't write file"},
        {128, "'new' file exists"},
        {131, "I/O started while already doing I/O"},
        {132, "Temporary file name (TMPDIR?) too long"},
        {133, "illegal error number 133"},
        {-2, "illegal error number -2"},
        {INT32_MIN, "illegal error number -2147483648"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(report(c.n, "list in"), "list in: " + c.message + "\n") << c.n;
    }
    // Every number from 100 to 132 has a text of its own.
    ASSERT_EQ(sizeof F_err / sizeof F_err[0], 33u);
    for (const char* text : F_err) {
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

TEST_F(FatalReport, IllegalNumbersStillGetTheStateLines) {
    set_list_state(2, 1);
    EXPECT_EQ(report(1000, "x"),
              "x: illegal error number 1000\n"
              "apparent state: unit 2 named ZEPO.DAT\n"
              "last format: list io\n"
              "lately reading sequential formatted external");
}

TEST_F(FatalReport, UnnamedUnitAndInternalIo) {
    set_list_state(6, 0);
    EXPECT_EQ(report(127, "list output start"),
              "list output start: can't write file\n"
              "apparent state: unit 6 (unnamed)\n"
              "last format: list io\n"
              "lately writing sequential formatted external");

    f__curunit = nullptr;
    f__external = 0;
    f__sequential = 0;
    f__formatted = 0;
    f__fmtlen = 4;  // only this many characters of the format are printed
    EXPECT_EQ(report(112, "invalid number"),
              "invalid number: incomprehensible list input\n"
              "apparent state: internal I/O\n"
              "last format: list\n"
              "lately writing direct unformatted internal");
}

TEST_F(FatalReport, TextLongerThanTheBufferIsCutNotOverrun) {
    set_list_state(2, 0);
    char text[32];
    std::memset(text, '#', sizeof text);
    const std::size_t length = format_fatal_report(127, "list output start", text, 20);
    EXPECT_LT(length, 20u);
    EXPECT_EQ(std::string(text, length), std::string("list output start: can't").substr(0, length));
    EXPECT_EQ(text[20], '#');
}

// The whole report as it reaches standard error, ending in " IO"; the run then aborts.
TEST(FatalReportDeathTest, ReportEndsInIoAndAborts) {
    const auto fail = [] {
        set_list_state(1, 1);
        f__init = kInitialised | kUnderWay;  // a read was under way
        f__units[1].name = "DATOS.DAT";
        f__units[1].named = true;
        f__fatal(115, "invalid integer");
    };
    EXPECT_EXIT(fail(), testing::KilledBySignal(SIGABRT),
                "^invalid integer: read unexpected character\n"
                "apparent state: unit 1 named DATOS.DAT\n"
                "last format: list io\n"
                "lately reading sequential formatted external IO\n$");
}

TEST(FatalReportDeathTest, WithAnErrorBranchTheNumberComesBack) {
    EXPECT_EQ(err__fl(1, 111, "endfile"), 111);
    EXPECT_EXIT(err__fl(0, 111, "endfile"), testing::KilledBySignal(SIGABRT), "^endfile: truncation failed");
}

// Host codes run past 99 on Linux; a full quota must not read as a message of the run-time's own table.
TEST(FatalReportDeathTest, HostErrorsAboveNinetyNineKeepTheHostText) {
    EXPECT_EQ(err__fl_host(1, EDQUOT, "write end"), EDQUOT);
    EXPECT_EXIT(err__fl_host(0, EDQUOT, "write end"), testing::KilledBySignal(SIGABRT),
                std::string("^write end: ") + std::strerror(EDQUOT) + "\n");
}

}  // namespace
