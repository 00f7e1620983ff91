#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recordio/list_io.hpp"
#include "recordio/unit_table.hpp"

namespace {

using Row = std::array<double, 8>;

// A unit connected, as the program connects its output, to "ZEPO.DAT" in a fresh temporary directory, or
// to the file given.
class OutputUnit {
public:
    explicit OutputUnit(int32_t unit, const std::string& path = "") : unit_(unit) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ephem-write-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        path_ = path.empty() ? dir_ + "/ZEPO.DAT" : path;
        const olist open{0,       unit_, path_.c_str(), static_cast<int32_t>(path_.size()), "UNKNOWN", nullptr,
                         nullptr, 0,     nullptr};
        f_open(&open);
    }
    ~OutputUnit() {
        const cllist close{0, unit_, nullptr};
        f_clos(&close);
        std::filesystem::remove_all(dir_);
    }

    std::string bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void start(ItemTextForm form = ItemTextForm::fast) const {
        const cilist write{0, unit_, 0, nullptr, 0};
        s_wsle(&write, form);
    }
    void write_row(const Row& row, ItemTextForm form = ItemTextForm::fast) const {
        start(form);
        for (double value : row) {
            do_lio(kTypeDouble, 1, &value, sizeof(double));
        }
        e_wsle();
    }

private:
    int32_t unit_;
    std::string dir_;
    std::string path_;
};

struct RowCase {
    const char* name;
    Row values;
    const char* lines;
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

class RowText : public ::testing::TestWithParam<RowCase> {};

// Both ways of forming the items give the row its exact text.
TEST_P(RowText, IsWrittenExactly) {
    const RowCase& c = GetParam();
    for (const ItemTextForm form : {ItemTextForm::fast, ItemTextForm::literal}) {
        OutputUnit out(20);
        out.write_row(c.values, form);
        EXPECT_EQ(out.bytes(), c.lines) << c.name << (form == ItemTextForm::literal ? " (literal)" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowText,
    ::testing::Values(
        RowCase{"short values fit one line of 53 characters",
                {2453500.0, 13.5, -7.25, 1.52, 0.67, 150.3, 20.1, 0.97},
                "  2453500.  13.5 -7.25  1.52  0.67  150.3  20.1  0.97\n"},
        RowCase{"full precision: the seventh item would reach column 83 and starts line 2",
                {2453500.5, 13.4567891234, -7.25012345678, 1.52367890123, 0.670123456789, 150.312345678, 20.1234567891,
                 0.970123456789},
                "  2453500.5  13.4567891 -7.25012346  1.5236789  0.670123457  150.312346\n"
                "  20.1234568  0.970123457\n"},
        RowCase{"exponents: the last item ends in column 79 and stays on the line",
                {2453501.0, 1.234E-05, -0.0, 1.0E+10, 123456789012.0, 0.0001, 180.0, -5.551115123125783E-17},
                "  2453501.  1.234E-05  0.  1.E+10  1.23456789E+11  0.0001  180. -5.55111512E-17\n"},
        RowCase{"one character more: the last item would end in column 80 and moves",
                {2453501.0, 1.234E-05, -0.0, 1.0E+10, 123456789012.0, 0.0001, 180.5, -5.551115123125783E-17},
                "  2453501.  1.234E-05  0.  1.E+10  1.23456789E+11  0.0001  180.5\n"
                " -5.55111512E-17\n"},
        RowCase{"the first pass of the worked example",
                {2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441, 47.6050457, 31.4665953, 0.926472324},
                "  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
                "  31.4665953  0.926472324\n"},
        RowCase{
            "seventeen-character items: four fit a line, the fifth would reach column 85",
            {-1.7976931348623157E+308, -1.7976931348623157E+308, -1.7976931348623157E+308, -1.7976931348623157E+308,
             -1.7976931348623157E+308, -1.7976931348623157E+308, -1.7976931348623157E+308, -1.7976931348623157E+308},
            " -1.79769313E+308 -1.79769313E+308 -1.79769313E+308 -1.79769313E+308\n"
            " -1.79769313E+308 -1.79769313E+308 -1.79769313E+308 -1.79769313E+308\n"}));

// An item count above 1 writes that many elements, each an item of its own, stepping by the element
// length; the placing on lines is the same as for single items.
TEST(ListWrite, ItemCountAboveOneWritesEachElement) {
    OutputUnit out(22);
    Row row{2453500.5,      13.4567891234, -7.25012345678, 1.52367890123,
            0.670123456789, 150.312345678, 20.1234567891,  0.970123456789};
    out.start();
    do_lio(kTypeDouble, 3, row.data(), sizeof(double));
    do_lio(kTypeDouble, 5, row.data() + 3, sizeof(double));
    e_wsle();
    // Every other element of an array of pairs: the element length is the step.
    const double pairs[4][2] = {{1.0, 99.0}, {-2.5, 99.0}, {0.0, 99.0}, {180.0, 99.0}};
    out.start();
    do_lio(kTypeDouble, 4, const_cast<double*>(&pairs[0][0]), 2 * sizeof(double));
    e_wsle();
    EXPECT_EQ(out.bytes(),
              "  2453500.5  13.4567891 -7.25012346  1.5236789  0.670123457  150.312346\n"
              "  20.1234568  0.970123457\n"
              "  1. -2.5  0.  180.\n");
}

// A row is handed to the file whole at the end of its write: nothing of it before, all of it after,
// without waiting for the close.
TEST(ListWrite, RowReachesTheFileWhenItsWriteEnds) {
    OutputUnit out(23);
    const Row row{2453500.5,      13.4567891234, -7.25012345678, 1.52367890123,
                  0.670123456789, 150.312345678, 20.1234567891,  0.970123456789};
    out.start();
    for (double value : row) {
        do_lio(kTypeDouble, 1, &value, sizeof(double));
    }
    EXPECT_EQ(out.bytes(), "") << "the first line of the row went out before the row ended";
    e_wsle();
    const std::string first =
        "  2453500.5  13.4567891 -7.25012346  1.5236789  0.670123457  150.312346\n"
        "  20.1234568  0.970123457\n";
    EXPECT_EQ(out.bytes(), first);
    out.write_row({1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0});
    EXPECT_EQ(out.bytes(), first + "  1.  2.  3.  4.  5.  6.  7.  8.\n");
}

// A line that the stream refuses (it had to pass earlier output to a full file) is lost; the row must
// not end as if it had been written.
TEST(ListWriteDeathTest, LineRefusedByTheStreamIsFatal) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    OutputUnit out(27, "/dev/full");
    // Filled in the child only: output left pending here would make the unit's close fail in this process.
    const auto fill_then_write = [&out] {
        const std::vector<char> earlier(8192, 'x');
        f__units[27].stream.put(earlier.data(), earlier.size());
        out.write_row({1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0});
    };
    EXPECT_EXIT(fill_then_write(), ::testing::KilledBySignal(SIGABRT), "^write end: No space left on device\n");
}

}  // namespace
