#include "recordio/item_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace {

std::string item(double x) {
    char out[kItemTextCapacity];
    const std::size_t n = format_item(x, out, ItemTextForm::fast);
    return std::string(out, n);
}

// The reference: "%.9G" and the point forced in, step by step.
std::string expected(double x) {
    char out[kItemTextCapacity];
    const std::size_t n = format_item(x, out, ItemTextForm::literal);
    return std::string(out, n);
}

struct ItemCase {
    double value;
    const char* text;
    const char* protects;
};

void PrintTo(const ItemCase& c, std::ostream* os) { *os << c.protects; }

class ItemText : public ::testing::TestWithParam<ItemCase> {};

TEST_P(ItemText, IsExact) {
    const ItemCase& c = GetParam();
    EXPECT_EQ(item(c.value), c.text) << c.protects << " (value " << c.value << ")";
    EXPECT_EQ(expected(c.value), c.text) << c.protects << " (value " << c.value << ")";
}

constexpr double kInf = std::numeric_limits<double>::infinity();

// The documented examples of the item text.
INSTANTIATE_TEST_SUITE_P(
    Examples, ItemText,
    ::testing::Values(ItemCase{2453500.0, "  2453500.", "an integral value keeps its point"},
                      ItemCase{2453500.5, "  2453500.5", "a fraction digit follows the point"},
                      ItemCase{13.4567891234, "  13.4567891", "rounded to nine significant digits"},
                      ItemCase{-7.25, " -7.25", "the minus stands in the sign column"},
                      ItemCase{0.67, "  0.67", "a value below 1 keeps its leading zero"},
                      ItemCase{0.0, "  0.", "zero is 0."}, ItemCase{-0.0, "  0.", "negative zero has no minus"},
                      ItemCase{180.0, "  180.", "no trailing zeros after the point"},
                      ItemCase{0.9999999999, "  1.", "rounds up to a power of ten: four characters"},
                      ItemCase{123456789.0, "  123456789.", "nine integral digits stay plain"},
                      ItemCase{999999999.5, "  1.E+09", "rounds up to ten digits: scientific, point before the E"},
                      ItemCase{1234567890.0, "  1.23456789E+09", "ten integral digits are scientific"},
                      ItemCase{0.0001, "  0.0001", "the smallest plain magnitude"},
                      ItemCase{0.00012345678912, "  0.000123456789", "plain with four leading zeros"},
                      ItemCase{0.0000999999999, "  9.99999999E-05", "just below 0.0001 is scientific"},
                      ItemCase{0.00001, "  1.E-05", "a lone digit gets its point before the E"},
                      ItemCase{-5.551115123125783E-17, " -5.55111512E-17", "a tiny negative keeps its minus"},
                      ItemCase{1.7976931348623157E+308, "  1.79769313E+308",
                               "the longest text: three exponent digits"}));

// Rounding to nine digits can carry into a new decade and so change the form of the text.
INSTANTIATE_TEST_SUITE_P(
    PowersOfTen, ItemText,
    ::testing::Values(ItemCase{9.9999999996, "  10.", "carry into a new integral digit"},
                      ItemCase{99999999.95, "  100000000.", "carry to exponent 8: still plain"},
                      ItemCase{9999999999.6, "  1.E+10", "carry within scientific notation"},
                      ItemCase{0.000099999999995, "  0.0001", "carry from exponent -5 to -4: plain"},
                      ItemCase{0.0000099999999996, "  1.E-05", "carry to exponent -5: still scientific"},
                      ItemCase{-0.99999999996, " -1.", "a negative carry keeps its minus"},
                      ItemCase{9.99999999E+99, "  9.99999999E+99", "two exponent digits below 1E+100"},
                      ItemCase{9.999999996E+99, "  1.E+100", "carry into a three-digit exponent"}));

// The switch between plain and scientific notation.
INSTANTIATE_TEST_SUITE_P(
    Boundaries, ItemText,
    ::testing::Values(ItemCase{0.00010000000000000002, "  0.0001", "just above 0.0001: plain"},
                      ItemCase{0.000099999999949999, "  9.99999999E-05", "just below the carry to 0.0001: scientific"},
                      ItemCase{999999999.0, "  999999999.", "999999999 is plain"},
                      ItemCase{999999999.4, "  999999999.", "rounds down: stays plain"},
                      ItemCase{1000000000.0, "  1.E+09", "1E+09 is scientific"}, ItemCase{1.0, "  1.", "one"},
                      ItemCase{1.0E+10, "  1.E+10", "exponent with no fraction digit"},
                      ItemCase{0.1, "  0.1", "the double nearest 0.1 shows as 0.1"}));

// Non-finite values and the extremes of the double range.
INSTANTIATE_TEST_SUITE_P(
    Extremes, ItemText,
    ::testing::Values(
        ItemCase{std::numeric_limits<double>::quiet_NaN(), "  NAN", "a NaN has a blank sign column and no point"},
        ItemCase{std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0), "  NAN",
                 "the sign bit of a NaN never shows"},
        ItemCase{std::bit_cast<double>(UINT64_C(0xFFF8000000000000)), "  NAN", "the NaN that 0/0 gives on x86"},
        ItemCase{std::bit_cast<double>(UINT64_C(0x7FF0000000000001)), "  NAN", "a signalling NaN"},
        ItemCase{kInf, "  INF", "plus infinity"},
        ItemCase{-kInf, " -INF", "minus infinity: the minus in the sign column"},
        ItemCase{-1.7976931348623157E+308, " -1.79769313E+308", "the lowest double"},
        ItemCase{2.2250738585072014E-308, "  2.22507386E-308", "the smallest normal double"},
        ItemCase{4.9406564584124654E-324, "  4.94065646E-324", "the smallest subnormal double"},
        ItemCase{-4.9406564584124654E-324, " -4.94065646E-324", "a negative subnormal keeps its minus"},
        ItemCase{1.0E-300, "  1.E-300", "a lone digit before a three-digit exponent"}));

// The text of a finite value, checked against the C library's "%.9G" with the point forced in. The
// values are drawn over the whole double range and around the decades where the form changes.
TEST(ItemTextAgreement, MatchesTheCConversion) {
    std::mt19937_64 random(20240601);
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const double x = std::bit_cast<double>(random());
        if (!std::isfinite(x)) {
            continue;
        }
        ASSERT_EQ(item(x), expected(x)) << "bits " << std::bit_cast<uint64_t>(x);
        ++checked;
    }
    for (int exponent = -12; exponent <= 12; ++exponent) {
        const double decade = std::pow(10.0, exponent);
        for (double step : {-2e-9, -6e-10, -4e-10, -1e-12, 0.0, 1e-12, 4e-10, 6e-10, 2e-9}) {
            const double x = decade * (1.0 + step);
            ASSERT_EQ(item(x), expected(x)) << x;
            ASSERT_EQ(item(-x), expected(-x)) << -x;
            checked += 2;
        }
    }
    EXPECT_GT(checked, 100000);
}

// A double drawn uniformly from the doubles of [2^k, 2^(k+1)).
double in_binade(std::mt19937_64& random, int k) {
    const uint64_t mantissa = random() & ((uint64_t{1} << 52) - 1);
    return std::ldexp(std::bit_cast<double>((uint64_t{1023} << 52) | mantissa), k);
}

// The digits are formed from integers for magnitudes of about 1E-14 to 1E+09 and by the shortest text
// elsewhere: a million values over those binary ranges and a little beyond on both sides, and subnormals,
// which take neither of the two quick ways.
TEST(ItemTextAgreement, MatchesTheCConversionOverTheIntegerRange) {
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 1'000'000; ++i) {
        const double x = in_binade(random, -52 + (i % 86));
        ASSERT_EQ(item(x), expected(x)) << "bits " << std::bit_cast<uint64_t>(x);
    }
    // The doubles around each power of ten, where the decimal exponent changes (and where the power
    // itself is not a double, which side of it the nearest double lies on).
    for (int exponent = -16; exponent <= 10; ++exponent) {
        double x = std::pow(10.0, exponent);
        for (int k = 0; k < 4; ++k) {
            x = std::nextafter(x, 0.0);
        }
        for (int k = 0; k < 9; ++k, x = std::nextafter(x, INFINITY)) {
            ASSERT_EQ(item(x), expected(x)) << "bits " << std::bit_cast<uint64_t>(x);
        }
    }
    for (int i = 0; i < 20000; ++i) {
        const double x = std::bit_cast<double>(random() & ((uint64_t{1} << 52) - 1));
        ASSERT_EQ(item(-x), expected(-x)) << "bits " << std::bit_cast<uint64_t>(x);
    }
}

// Exact ties: x = (2q + 1) / (2 10^s) for a nine-digit q is a double when 5^s divides 2q + 1 and the
// quotient is below 2^53; "%.9G" then rounds to the even one of q and q + 1. Both parities of q occur.
TEST(ItemTextAgreement, ExactTiesRoundToEven) {
    std::mt19937_64 random(41);
    std::uniform_int_distribution<int64_t> nine_digits(100000000, 999999999);
    int ties = 0;
    for (int s = 0; s <= 12; ++s) {
        int64_t five_to_s = 1;
        for (int i = 0; i < s; ++i) {
            five_to_s *= 5;
        }
        for (int i = 0; i < 400; ++i) {
            const int64_t odd = (2 * nine_digits(random)) + 1;
            const int64_t multiple = odd - (odd % (2 * five_to_s)) + five_to_s;  // odd, divisible by 5^s
            if (multiple < 200000001 || multiple > 1999999999) {
                continue;
            }
            const int64_t exact_quotient = multiple / five_to_s;
            const double x = std::ldexp(static_cast<double>(exact_quotient), -(s + 1));
            ASSERT_EQ(item(x), expected(x)) << "bits " << std::bit_cast<uint64_t>(x) << " (s " << s << ")";
            ++ties;
        }
    }
    EXPECT_GT(ties, 4000);
    EXPECT_EQ(item(123456788.5), "  123456788.");
    EXPECT_EQ(item(123456789.5), "  123456790.");
}

// Doubles next to a point half-way between two nine-digit numbers, where rounding a shorter decimal text
// instead of the exact binary value would go the wrong way.
TEST(ItemTextAgreement, NearHalfwayPointsRoundAsTheExactValue) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> nine_digits(100000000, 999999999);
    std::uniform_int_distribution<int> decade(-30, 30);
    for (int i = 0; i < 20000; ++i) {
        const double halfway = (static_cast<double>(nine_digits(random)) + 0.5) * std::pow(10.0, decade(random) - 8);
        double x = halfway;
        for (int k = 0; k < 3; ++k) {
            x = std::nextafter(x, 0.0);
        }
        for (int k = 0; k < 7; ++k, x = std::nextafter(x, INFINITY)) {
            ASSERT_EQ(item(x), expected(x)) << "bits " << std::bit_cast<uint64_t>(x);
        }
    }
    for (const double x : {1.0000000005, 0.1234567885, 1234567.885, 99999999.95, 2.5e-9, 4.5e15}) {
        EXPECT_EQ(item(x), expected(x)) << x;
    }
}

}  // namespace
