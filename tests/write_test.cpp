#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/program_run.hpp"

namespace {

std::vector<std::string> lines_of(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

std::string run_for_table(const std::string& datos) {
    TempDir dir;
    dir.write("DATOS.DAT", datos);
    const RunResult result = run_ephem(dir);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_error, "");
    return dir.read("ZEPO.DAT");
}

TEST(WriteTable, WorkedExampleRowsByteForByte) {
    EXPECT_EQ(run_for_table(mars_datos("4")),
              "  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
              "  31.4665953  0.926472324\n"
              "  2451546.  22.0847654 -12.8973056  1.39168445  1.85498287  47.3614443\n"
              "  31.3167433  0.927153488\n"
              "  2451547.  22.1341248 -12.6140269  1.39222271  1.8604035  47.1177879\n"
              "  31.1664409  0.927833765\n"
              "  2451548.  22.1833752 -12.3288697  1.39277394  1.8658262  46.8740712\n"
              "  31.0156932  0.928513101\n");
}

// A year of rows: every line obeys the rules of the table, and every row starts a line of its own and
// holds its eight items.
TEST(WriteTable, YearOfRowsKeepsTheLineRules) {
    const int rows = 365;
    const std::string bytes = run_for_table(mars_datos(std::to_string(rows)));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n') << "nothing may follow the last line end";
    const std::vector<std::string> lines = lines_of(bytes);
    EXPECT_GE(lines.size(), static_cast<std::size_t>(rows));
    EXPECT_LE(lines.size(), static_cast<std::size_t>(2 * rows));

    long next_day = 2451545;
    int items_in_row = 8;
    for (const std::string& line : lines) {
        ASSERT_LT(line.size(), 80u) << line;
        ASSERT_GE(line.size(), 4u) << line;
        ASSERT_EQ(line[0], ' ') << line;
        ASSERT_NE(line.back(), ' ') << "trailing blank: " << line;
        for (char c : line) {
            ASSERT_TRUE(c >= ' ' && c <= '~') << "not printable in: " << line;
        }
        std::istringstream items(line);
        std::string first;
        items >> first;
        int count = 1;
        for (std::string item; items >> item;) {
            ++count;
        }
        if (first == std::to_string(next_day) + ".") {
            ASSERT_EQ(items_in_row, 8) << "the row before day " << next_day;
            ++next_day;
            items_in_row = 0;
        }
        items_in_row += count;
    }
    EXPECT_EQ(items_in_row, 8);
    EXPECT_EQ(next_day, 2451545 + rows) << "not every row starts a line of its own";
}

struct DegenerateCase {
    const char* name;
    const char* datos;
    const char* table;
};

void PrintTo(const DegenerateCase& c, std::ostream* os) { *os << c.name; }

class DegenerateOrbit : public ::testing::TestWithParam<DegenerateCase> {};

// Orbits and places the model has no answer for (no ellipse, two bodies at one point) give NaN values,
// which are written like any other value, always as NAN with a blank sign column.
TEST_P(DegenerateOrbit, RowsHoldTheFixedNanText) {
    const DegenerateCase& c = GetParam();
    EXPECT_EQ(run_for_table(c.datos), c.table) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DegenerateOrbit,
    ::testing::Values(DegenerateCase{"a hyperbola as the target: no place, so every value but the time is NAN",
                                     "1.52371034 1.2 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n"
                                     "1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0\n"
                                     "2451545.0\n2\n",
                                     "  2451545.  NAN  NAN  NAN  NAN  NAN  NAN  NAN\n"
                                     "  2451546.  NAN  NAN  NAN  NAN  NAN  NAN  NAN\n"},
                      DegenerateCase{"a parabola as the observer: the target's distance from the Sun survives",
                                     "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n"
                                     "1.00000261 1.0 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0\n"
                                     "2451545.0\n2\n",
                                     "  2451545.  NAN  NAN  1.39115922  NAN  NAN  NAN  NAN\n"
                                     "  2451546.  NAN  NAN  1.39168445  NAN  NAN  NAN  NAN\n"},
                      DegenerateCase{"the same orbit for both bodies: distance 0 and the rest NAN",
                                     "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n"
                                     "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n"
                                     "2451545.0\n2\n",
                                     "  2451545.  NAN  NAN  1.39115922  0.  NAN  NAN  NAN\n"
                                     "  2451546.  NAN  NAN  1.39168445  0.  NAN  NAN  NAN\n"}));

}  // namespace
