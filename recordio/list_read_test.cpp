#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "process/io_state.hpp"
#include "recordio/list_io.hpp"
#include "recordio/unit_table.hpp"

namespace {

constexpr int32_t kUnit = 11;
// What an item holds before the read; a null value, a slash or a surplus item leaves it so.
constexpr double kUntouched = -7777.0;
constexpr int32_t kUntouchedInteger = -7777;
constexpr double kInf = std::numeric_limits<double>::infinity();

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

std::string report(const std::string& first_line) { return "^" + first_line + "\napparent state: unit 11 named "; }
const char* const kInvalidNumber = "invalid number: incomprehensible list input";
const char* const kBadRepetition = "bad repetition count: incomprehensible list input";
const char* const kExponentField = "exponent field: incomprehensible list input";
const char* const kInvalidInteger = "invalid integer: read unexpected character";
const char* const kListInEnd = "list in: end of file";
const char* const kReadStartEnd = "read start: end of file";

struct ItemsCase {
    const char* text;
    std::vector<double> expected;  // of the first read of eight doubles
    double next = kUntouched;      // the single value of the read after it, when given
};

// Reads from a temporary file connected to a unit, one transfer per item as the program does.
class ListRead : public testing::Test {
protected:
    void TearDown() override {
        const cllist close{0, kUnit, nullptr};
        f_clos(&close);
        // The unit table remembers each input for the rest of the process; a later test's output could
        // take the same inode and be refused as this input.
        f__units[kUnit].input_file = {};
        if (!path_.empty()) {
            std::remove(path_.c_str());
            path_.clear();
        }
    }

    void connect(const std::string& text) {
        path_ = testing::TempDir() + "list_read_XXXXXX";
        const int fd = mkstemp(path_.data());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        connect_path(path_);
    }

    static void connect_path(const std::string& path) {
        const olist open{0,       kUnit, path.c_str(), static_cast<int32_t>(path.size()), "OLD", nullptr,
                         nullptr, 0,     nullptr};
        f_open(&open);
    }

    std::vector<double> read_doubles(std::size_t count) {
        const cilist read{0, kUnit, 0, nullptr, 0};
        s_rsle(&read);
        std::vector<double> items(count, kUntouched);
        for (double& item : items) {
            do_lio(kTypeDouble, 1, &item, sizeof item);
        }
        end_result = e_rsle();
        return items;
    }

    double read_double() { return read_doubles(1)[0]; }

    int32_t read_integer() {
        const cilist read{0, kUnit, 0, nullptr, 0};
        s_rsle(&read);
        int32_t item = kUntouchedInteger;
        do_lio(kTypeInteger, 1, &item, sizeof item);
        end_result = e_rsle();
        return item;
    }

    // The four reads of the orbit data file, flattened: 8 + 8 + 1 doubles, then the row count.
    std::pair<std::vector<double>, int32_t> read_orbit_data() {
        std::vector<double> values = read_doubles(8);
        const std::vector<double> observer = read_doubles(8);
        values.insert(values.end(), observer.begin(), observer.end());
        values.push_back(read_double());
        return {values, read_integer()};
    }

    // One read of eight doubles, then, when the case gives one, a read of one more value, which shows
    // where the first read stopped.
    void read_items(const ItemsCase& c) {
        SCOPED_TRACE(c.text);
        connect(c.text);
        EXPECT_EQ(read_doubles(8), c.expected);
        if (c.next != kUntouched) {
            EXPECT_EQ(read_double(), c.next);
        }
        TearDown();
    }

    std::string path_;
    int32_t end_result = 0;
};

using ListReadDeathTest = ListRead;

const std::vector<double> kExampleValues = {2.5,    0.1, 10.0, 70.0, 80.0,  60.0,  100.0, 0.0,  1.0,
                                            0.0167, 0.0, 0.0,  0.0,  357.5, 100.0, 0.0,   100.0};

struct FileCase {
    const char* what;
    std::string text;
};

TEST_F(ListRead, ExampleFilesGiveTheSameValues) {
    const FileCase cases[] = {
        {"one group per line",
         "2.5 0.1 10.0 70.0 80.0 60.0 100.0 0.0\n1.0 0.0167 0.0 0.0 0.0 357.5 100.0 0.0\n100.0\n30\n"},
        {"other forms of the syntax",
         "2.5, 0.1, 10, 7E1\n8.0d1 60. 1.0D+2 0 / target body\n1.0,0.0167,3*0,357.5,100,0\n\n1e2\n"
         "+30 elements end here\n"},
        {"CR LF line ends, a group over two lines",
         "2.5 0.1 10.0 70.0\r\n80.0 60.0 100.0 0.0\r\n1.0 0.0167 0.0 0.0 0.0 357.5 100.0 0.0\r\n\r\n100.0\r\n"
         "30\r\n"},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        connect(c.text);
        const auto [values, nc] = read_orbit_data();
        EXPECT_EQ(values, kExampleValues);
        EXPECT_EQ(nc, 30);
        TearDown();
    }
}

constexpr double K = kUntouched;

TEST_F(ListRead, SeparatorsAndNullValues) {
    const std::vector<double> one_to_eight = {1, 2, 3, 4, 5, 6, 7, 8};
    const ItemsCase cases[] = {
        {"1 2 3 4 5 6 7 8\n", one_to_eight},
        {"1, 2 ,3 , 4,5,6,7,8\n", one_to_eight},
        {"1\t2\t3 \t4\t5\t6\t7\t8\n", one_to_eight},
        {"\n\n1\n2\n\n3 4\n5 6 7\n8\n", one_to_eight},
        {"1 2 3 4\r\n\r\n5 6 7 8\r\n9\n", one_to_eight, 9},
        // A comma at the end of a line only separates; one at the start of a line is a null value.
        {"1,\n2,\n3,4,5,6,7,8,\n", one_to_eight},
        {"1,2,3,4\n,5,6,7,8\n", {1, 2, 3, 4, K, 5, 6, 7}},
        {",1,,2 , ,3,4,5\n", {K, 1, K, 2, K, 3, 4, 5}},
        {",,,,,,,,\n9\n", {K, K, K, K, K, K, K, K}, 9},
        // Whatever follows the last value on its line is skipped, up to and including the line feed.
        {"1 2 3 4 5 6 7 8 9 words, / 10\n11\n", one_to_eight, 11},
        {"1 2 3 4 5 6 7 8x\n11\n", one_to_eight, 11},
        {"1 2 3 4 5 6 7 8\rx\r\n11\n", one_to_eight, 11},
    };
    for (const ItemsCase& c : cases) {
        read_items(c);
    }
}

TEST_F(ListRead, RepeatCounts) {
    const ItemsCase cases[] = {
        {"10*1.0\n2\n", {1, 1, 1, 1, 1, 1, 1, 1}, 2},  // the surplus is dropped at the end of the read
        {"1.0,0.0167,3*0,357.5,100,0\n", {1.0, 0.0167, 0, 0, 0, 357.5, 100, 0}},
        {"+2*5 6 7 8 9 10 11\n", {5, 5, 6, 7, 8, 9, 10, 11}},
        {"0002*-1.5e1, 3*4\n1 2 3\n", {-15, -15, 4, 4, 4, 1, 2, 3}},
        {"99999999999999999999999999999999999999*3\n", {3, 3, 3, 3, 3, 3, 3, 3}},
        // r* followed by a blank, a line end, a comma or a slash gives r null values.
        {"2* 3 4 5 6 7 8\n", {K, K, 3, 4, 5, 6, 7, 8}},
        {"1 2*\n3 4 5 6 7 8\n", {1, K, K, 3, 4, 5, 6, 7}},
        {"1 2*\r\n3 4 5 6 7 8\n", {1, K, K, 3, 4, 5, 6, 7}},
        {"2*,3,4,5,6,7,8\n", {K, K, 3, 4, 5, 6, 7, 8}},
        // The comma after a repeated value ends it only once the repeat is used up.
        {"2*1,3 4 5 6 7 8\n", {1, 1, 3, 4, 5, 6, 7, 8}},
        {"3*/\n9\n", {K, K, K, K, K, K, K, K}, 9},
    };
    for (const ItemsCase& c : cases) {
        read_items(c);
    }
}

TEST_F(ListRead, SlashEndsTheRead) {
    // The items after the slash keep their contents and the rest of its line is skipped.
    const ItemsCase cases[] = {
        {"1 2 3/ 4 5\n6\n", {1, 2, 3, K, K, K, K, K}, 6},
        {"1 2 3 /4 5\n6\n", {1, 2, 3, K, K, K, K, K}, 6},
        {"1,2,/\n6\n", {1, 2, K, K, K, K, K, K}, 6},
        // A slash on a later line, or at the start of the read.
        {"1 2\n/ 3 4\n6\n", {1, 2, K, K, K, K, K, K}, 6},
        {"/\n6\n", {K, K, K, K, K, K, K, K}, 6},
    };
    for (const ItemsCase& c : cases) {
        read_items(c);
    }
}

struct NumberCase {
    std::string text;
    double expected;
};

TEST_F(ListRead, NumberSyntax) {
    const std::string forty = "1234567890123456789012345678901234567890";
    // 1 + 2^-53, the midpoint between 1 and the next double, cut to 40 digits: just below it.
    const std::string below_midpoint = "1.000000000000000111022302462515654042363";
    const NumberCase cases[] = {
        {"2.5", 2.5},
        {"7E1", 70},
        {"7e1", 70},
        {"8.0d1", 80},
        {"8.0D1", 80},
        {"1.0D+2", 100},
        {"60.", 60},
        {".5", 0.5},
        {"-.5e-1", -0.05},
        {"+1", 1},
        {"0001.2500", 1.25},
        {"0.000123", 0.000123},
        {"1.5+3", 1500},
        {"1.5-3", 0.0015},
        {"1.5e3", 1500},
        {"1.5d3", 1500},
        {"0e5", 0},
        {"-0", 0},  // zero is positive even after a minus sign
        {"-0.0", 0},
        {"-.0e7", 0},
        {"-0+5", 0},
        {"1e099999999", kInf},
        {"-1e400", -kInf},
        {"1e-99999999", 0},
        {"5e-324", std::numeric_limits<double>::denorm_min()},
        {"2.2250738585072014e-308", std::numeric_limits<double>::min()},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"0.1", 0.1},
        {"9007199254740993", 9007199254740992.0},  // a tie, to even
        // The 40 significant digits are kept with their magnitude; the rest are dropped unrounded.
        {forty + "999", 1234567890123456789012345678901234567890e3},
        {"0.000" + forty + "999", 0.0001234567890123456789012345678901234567890},
        {below_midpoint, 1.0},
        {below_midpoint + "9", 1.0},
        {"1000000000000000111022302462515654042363900000e-45", 1.0},
        {"0." + std::string(1000, '0') + "1e1001", 1.0},
        // Millions of digits: the decimal exponent keeps count of every one dropped.
        {"1" + std::string(3000000, '0') + "e-3000000", 1.0},
        {"0." + std::string(3000000, '0') + "25e3000000", 0.25},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        connect(c.text + "\n");
        EXPECT_EQ(bits(read_double()), bits(c.expected));
        TearDown();
    }
}

// Random doubles written with 17 significant digits read back to the same bits, whichever exponent form
// they are written in: the conversion is correctly rounded.
TEST_F(ListRead, RandomDoublesReadBackExactly) {
    std::mt19937_64 random(20240601);
    std::vector<double> written;
    std::string text;
    const char* const letters = "EeDd";
    for (int i = 0; i < 2000; ++i) {
        double x;
        do {
            const uint64_t b = random();
            std::memcpy(&x, &b, sizeof x);
        } while (!std::isfinite(x));
        char number[64];
        std::snprintf(number, sizeof number, "%.17e", x);
        std::string field = number;
        const std::size_t e = field.find('e');
        if (i % 3 == 1) {
            field.erase(e, 1);  // the exponent's sign alone
        } else {
            field[e] = letters[i % 4];
        }
        written.push_back(x);
        text += field + (i % 2 == 0 ? " \n" : ",\r\n");
    }
    connect(text);
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(bits(read_double()), bits(written[i])) << "value " << i;
    }
}

struct IntegerCase {
    const char* text;
    int32_t expected;
};

TEST_F(ListRead, RowCountRules) {
    const IntegerCase cases[] = {
        {"30", 30},
        {"+30", 30},
        {"030", 30},
        {"30 elements end here", 30},
        {"3+1", 30},
        {"35-1", 3},    // 3.5, truncated
        {"-35-1", -3},  // truncated toward zero
        {"-0", 0},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MIN},
        {"3000000000", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"1+999", INT32_MIN},  // an infinity
        {"1-99999999", 0},
        {"2*7", 7},
        {",", kUntouchedInteger},
    };
    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.text);
        connect(std::string(c.text) + "\n");
        EXPECT_EQ(read_integer(), c.expected);
        TearDown();
    }
}

struct FailureCase {
    std::string text;
    const char* first_line;
};

// Each text is read as one read of eight doubles.
TEST_F(ListReadDeathTest, MalformedNumbersEndTheRun) {
    const FailureCase cases[] = {
        {"title line\n1 2 3 4 5 6 7 8\n", kInvalidNumber},
        {"e5 1 2 3 4 5 6 7\n", kInvalidNumber},
        {"1.5x 2 3 4 5 6 7 8\n", kInvalidNumber},  // at the second item
        {"1.5 E3 2 3 4 5 6 7\n", kInvalidNumber},
        {"1 500 + 2 3 4 5 6\n", kInvalidNumber},
        {". 1 2 3 4 5 6 7\n", kInvalidNumber},
        {"\"1.5\" 2 3 4 5 6 7 8\n", kInvalidNumber},
        {"1 2 3 4\rx 5 6 7 8\n", kInvalidNumber},  // a lone carriage return is an ordinary character
        {"3*\r5 1 2 3 4 5 6\n", kInvalidNumber},
        // ... also as the last byte of the file, where it is no end of the file yet.
        {"1 2 3 4 5 6 7\r", kInvalidNumber},
        {"2*1.5\r", kInvalidNumber},  // the repeat serves the second item, the third meets the \r
        {"\x80 1 2 3 4 5 6 7\n", kInvalidNumber},
        {"1 2 3 4 5 6 7 2*", kInvalidNumber},  // r* met by the end of the file
        {"*5 1 2 3 4 5 6 7\n", kBadRepetition},
        {"0*5 1 2 3 4 5 6 7\n", kBadRepetition},
        {"-2*5 1 2 3 4 5 6 7\n", kBadRepetition},
        {"+*5 1 2 3 4 5 6 7\n", kBadRepetition},
        {"1" + std::string(40, '0') + "*5\n", kBadRepetition},
        {"2*3*4 1 2 3 4 5 6 7\n", kBadRepetition},
        {"1.5+ 2 3 4 5 6 7 8\n", kExponentField},
        {"1.5e 2 3 4 5 6 7 8\n", kExponentField},
        {"1.5D- 2 3 4 5 6 7 8\n", kExponentField},
        {"1.5ex 2 3 4 5 6 7 8\n", kExponentField},
        {"1e100000000 2 3 4 5 6 7 8\n", kExponentField},
        {"1 2 3 4 5 6 7 1.5e", kExponentField},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        connect(c.text);
        EXPECT_EXIT(read_doubles(8), testing::KilledBySignal(SIGABRT), report(c.first_line));
        TearDown();
    }
}

TEST_F(ListReadDeathTest, PointOrExponentLetterInTheRowCountFails) {
    const FailureCase cases[] = {
        {"30.0\n", kInvalidInteger}, {"3E1\n", kInvalidInteger}, {"3d1\n", kInvalidInteger}, {".5\n", kInvalidInteger},
        {"2*3.\n", kInvalidInteger}, {"0e1\n", kInvalidInteger}, {"e1\n", kInvalidNumber},   {"3+\n", kExponentField},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.text);
        connect(c.text);
        EXPECT_EXIT(read_integer(), testing::KilledBySignal(SIGABRT), report(c.first_line));
        TearDown();
    }
}

TEST_F(ListReadDeathTest, EndOfFileWhileLookingForAValue) {
    for (const char* text : {"", "\n\n  \n", "1 2 3\n", "1 2 3 4 5 6 7", "1,2,3,4,5,6,7,",
                             "2*1.5"}) {  // the repeat could serve the next item, but the end came first
        SCOPED_TRACE(text);
        connect(text);
        EXPECT_EXIT(read_doubles(8), testing::KilledBySignal(SIGABRT), report(kListInEnd));
        TearDown();
    }
}

TEST_F(ListReadDeathTest, ReadAfterTheLastValueMetTheEndOfTheFile) {
    // The last value ends the file, or the rest of its line never reaches a line feed.
    for (const char* text : {"1 2 3 4 5 6 7 8", "1 2 3 4 5 6 7 8 9", "1 2 3 4 5 6 7 8\r"}) {
        SCOPED_TRACE(text);
        connect(text);
        const std::vector<double> values = read_doubles(8);
        EXPECT_EQ(values[7], 8);
        EXPECT_EXIT(read_double(), testing::KilledBySignal(SIGABRT), report(kReadStartEnd));
        TearDown();
    }
}

TEST_F(ListRead, EndOfReadReportsAMissingLineFeed) {
    connect("1 2 3 4 5 6 7 8 and more");
    read_doubles(8);
    EXPECT_EQ(end_result, -1);
    TearDown();

    connect("1 2 3 4 5 6 7 8");  // the end met by the value itself is no failure of the end
    read_doubles(8);
    EXPECT_EQ(end_result, 0);
    TearDown();

    connect("1 2 3 4 5 6 7 8 and more\n9");
    read_doubles(8);
    EXPECT_EQ(end_result, 0);
    EXPECT_EQ(read_double(), 9);
}

TEST_F(ListReadDeathTest, ReadErrorIsReportedWithTheHostsText) {
    const std::string dir = testing::TempDir() + "list_read_dir_XXXXXX";
    std::string made = dir;
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    connect_path(made);  // a directory opens for reading; reading it fails
    EXPECT_EXIT(read_doubles(8), testing::KilledBySignal(SIGABRT),
                report(std::string("list in: ") + std::strerror(EISDIR)));
    const cllist close{0, kUnit, nullptr};
    f_clos(&close);
    rmdir(made.c_str());
}

// A read with error and end-of-file branches: the number of the first failure, 0 when all count items
// were read, with the operation that failed and the state it left.
int32_t read_with_branches(int32_t err, int32_t end, int count) {
    const cilist read{err, kUnit, end, nullptr, 0};
    if (const int32_t failed = s_rsle(&read); failed != 0) {
        return failed;
    }
    for (int i = 0; i < count; ++i) {
        double item = 0;
        if (const int32_t failed = do_lio(kTypeDouble, 1, &item, sizeof item); failed != 0) {
            return failed;
        }
    }
    e_rsle();
    return 0;
}

// With branches a failure comes back as its number, from wherever in a field it was met, instead of
// ending the run. The read is then over: the unit closes (a read still under way would make the close
// fail with "I/O recursion"), and the next file reads normally.
TEST_F(ListRead, BranchesReturnTheNumberAndLeaveTheReaderReady) {
    const struct {
        std::string text;
        int32_t err, end;
        int reads;  // reads of eight doubles; the last one fails
        int32_t expected;
    } cases[] = {
        {"title line\n", 1, 1, 1, 112},
        {"1.5+ 2\n", 1, 0, 1, 112},  // inside the exponent of the first item
        {"1 2 3 4 5 6 7 0*5\n", 1, 0, 1, 112},
        {"1e100000000\n", 1, 1, 1, 112},
        {"1 2 3\n", 0, 1, 1, -1},  // the end branch alone catches the end of the file
        {"", 1, 1, 1, -1},
        {"1 2 3 4 5 6 7 8", 0, 1, 2, -1},  // caught at the start of the second read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        connect(c.text);
        int32_t result = 0;
        for (int read = 0; read < c.reads && result == 0; ++read) {
            result = read_with_branches(c.err, c.end, 8);
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(f__init & kUnderWay, 0);
        TearDown();
        EXPECT_FALSE(f__units[kUnit].stream.attached());
        connect("1 2 3 4 5 6 7 8\n");
        EXPECT_EQ(read_doubles(8), std::vector<double>({1, 2, 3, 4, 5, 6, 7, 8}));
        TearDown();
    }
}

TEST_F(ListRead, ErrorBranchCatchesAReadErrorAndAPointInTheRowCount) {
    connect("30.0\n");
    const cilist read{1, kUnit, 0, nullptr, 0};
    ASSERT_EQ(s_rsle(&read), 0);
    int32_t nc = kUntouchedInteger;
    EXPECT_EQ(do_lio(kTypeInteger, 1, &nc, sizeof nc), 115);
    EXPECT_EQ(nc, kUntouchedInteger);
    TearDown();

    const std::string dir = testing::TempDir() + "list_read_branch_XXXXXX";
    std::string made = dir;
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    connect_path(made);
    EXPECT_EQ(read_with_branches(1, 0, 1), EISDIR);
    EXPECT_EQ(f__init & kUnderWay, 0);
    const cllist close{0, kUnit, nullptr};
    EXPECT_EQ(f_clos(&close), 0);
    rmdir(made.c_str());
}

// Each branch catches only its own kind: the end-of-file branch lets a malformed number end the run, and
// the error branch lets the end of the file end it.
TEST_F(ListReadDeathTest, EachBranchCatchesOnlyItsOwnKind) {
    connect("title line\n");
    EXPECT_EXIT(read_with_branches(0, 1, 8), testing::KilledBySignal(SIGABRT), report(kInvalidNumber));
    TearDown();
    connect("1 2 3\n");
    EXPECT_EXIT(read_with_branches(1, 0, 8), testing::KilledBySignal(SIGABRT), report(kListInEnd));
}

// Random short texts, mostly made of the characters of the syntax, read as the program reads its
// orbit data. Each must either read to the end or end the run with one of the reader's reports: no
// other crash, no hang. 300 texts in the short set, 3000 in the long one (EPHEM_TEST_SET=long); the
// fuzz target (fuzz/) searches far wider.
TEST(ListReadFuzz, RandomTextEndsInAValueOrAReport) {
    const char* set = std::getenv("EPHEM_TEST_SET");
    const int rounds = (set != nullptr && std::string(set) == "long") ? 3000 : 300;
    static const char alphabet[] = "0123456789012345.....++--eEdD***,,,///   \t\t\n\n\n\r\rx\"\x80\xff";
    const std::vector<std::string> allowed = {kInvalidNumber,  kBadRepetition, kExponentField,
                                              kInvalidInteger, kListInEnd,     kReadStartEnd};
    std::mt19937 random(7);
    const std::string path = testing::TempDir() + "list_read_fuzz_" + std::to_string(getpid());
    const std::string kValidFile = "2.5, 0.1, 10, 7E1\n8.0d1 60. 1.0D+2 0 / x\n1.0,0.0167,3*0,357.5,100,0\n1e2\n+30\n";
    int reports = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto pick = [&] { return alphabet[random() % (sizeof alphabet - 1)]; };
        std::string text;
        if (round % 2 == 0) {
            const std::size_t length = random() % 48;
            for (std::size_t i = 0; i < length; ++i) {
                text += pick();
            }
        } else {  // a valid file with a few bytes replaced, inserted or removed
            text = kValidFile;
            for (unsigned edits = 1 + random() % 3; edits > 0; --edits) {
                const std::size_t at = random() % text.size();
                switch (random() % 3) {
                    case 0:
                        text[at] = pick();
                        break;
                    case 1:
                        text.insert(at, 1, pick());
                        break;
                    default:
                        text.erase(at, 1);
                        break;
                }
            }
        }
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);

        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(30);  // a hang shows as death by SIGALRM
            dup2(pipe_fds[1], STDERR_FILENO);
            const olist open{0,       kUnit, path.c_str(), static_cast<int32_t>(path.size()), "OLD", nullptr,
                             nullptr, 0,     nullptr};
            f_open(&open);
            const cilist read{0, kUnit, 0, nullptr, 0};
            double item = 0;
            for (int count : {8, 8, 1}) {
                s_rsle(&read);
                for (int i = 0; i < count; ++i) {
                    do_lio(kTypeDouble, 1, &item, sizeof item);
                }
                e_rsle();
            }
            int32_t nc = 0;
            s_rsle(&read);
            do_lio(kTypeInteger, 1, &nc, sizeof nc);
            e_rsle();
            _exit(0);
        }
        close(pipe_fds[1]);
        std::string err;
        char buffer[512];
        ssize_t got;
        while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
            err.append(buffer, static_cast<std::size_t>(got));
        }
        close(pipe_fds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0) << text;
            ASSERT_EQ(err, "") << text;
            continue;
        }
        ASSERT_TRUE(WIFSIGNALED(status)) << text;
        ASSERT_EQ(WTERMSIG(status), SIGABRT) << text;
        const std::string first_line = err.substr(0, err.find('\n'));
        ASSERT_NE(std::find(allowed.begin(), allowed.end(), first_line), allowed.end()) << text << "\n" << err;
        ++reports;
    }
    std::remove(path.c_str());
    // Both endings are common: a tenth of the texts at least ends in a report, and another reads through.
    EXPECT_GT(reports, rounds / 10);
    EXPECT_LT(reports, rounds - rounds / 10);
}

}  // namespace
