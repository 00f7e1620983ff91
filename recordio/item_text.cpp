#include "recordio/item_text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

// The item text is not terminated: only its characters are copied.
std::size_t append(char* out, std::size_t at, std::string_view text) {
    std::memcpy(out + at, text.data(), text.size());
    return at + text.size();
}

// A positive number rounded to nine significant digits: its digits without trailing zeros, and the
// decimal exponent of the first digit.
struct NineDigits {
    char digits[20];
    int count;
    int exponent;
};

// Reads the digits and exponent of to_chars' scientific text ("d.ddde+XX").
NineDigits parse_scientific(const char* text, const char* end) {
    NineDigits d{};
    const char* c = text;
    for (; c != end && *c != 'e'; ++c) {
        if (*c != '.') {
            d.digits[d.count++] = *c;
        }
    }
    ++c;  // the 'e'
    const bool negative = *c == '-';
    int exponent = 0;
    std::from_chars(c + 1, end, exponent);
    d.exponent = negative ? -exponent : exponent;
    return d;
}

void drop_trailing_zeros(NineDigits& d) {
    while (d.count > 1 && d.digits[d.count - 1] == '0') {
        --d.count;
    }
}

// Rounds the shortest text that reads back as x to nine digits. That gives the digits of the exact
// binary value rounded to nine, unless the shortest text lies within a hair of a point half-way between
// two nine-digit numbers: the two roundings could then fall on different sides, and false is returned.
// Beyond "4999" or "5000" the shortest text is at least 1E-13 (relative) away from any such point, far
// more than its own distance from x, which is below 1.2E-16 (relative) for a normal double. A subnormal
// has fewer bits, its shortest text can be as short as "5E-324", and it takes the exact way as well.
bool round_shortest(double x, NineDigits& d) {
    if (x < std::numeric_limits<double>::min()) {
        return false;
    }
    char text[32];
    const char* const end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific).ptr;
    d = parse_scientific(text, end);
    if (d.count > 9) {
        char tail[4] = {'0', '0', '0', '0'};
        std::memcpy(tail, d.digits + 9, static_cast<std::size_t>(std::min(d.count - 9, 4)));
        if (std::memcmp(tail, "4999", 4) == 0 || std::memcmp(tail, "5000", 4) == 0) {
            return false;
        }
        const bool up = d.digits[9] >= '5';
        d.count = 9;
        int i = 8;
        for (; up && i >= 0 && d.digits[i] == '9'; --i) {
            d.digits[i] = '0';
        }
        if (up && i < 0) {
            d.digits[0] = '1';  // 999999999.5 becomes 1.E+09
            ++d.exponent;
        } else if (up) {
            ++d.digits[i];
        }
    }
    drop_trailing_zeros(d);
    return true;
}

// The nine digits as an integer q (10^8 <= q < 10^9) and the decimal exponent of its first digit.
struct ScaledDigits {
    uint32_t q;
    int exponent;
};

// 10^s for s = 0 to kMaxScale, exactly.
constexpr int kMaxScale = 22;
constexpr auto kPowersOfTen = [] {
    std::array<unsigned __int128, kMaxScale + 1> powers{};
    unsigned __int128 p = 1;
    for (auto& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// The decimal exponents the integer way takes, and the doubles nearest their powers of ten.
constexpr int kLowestExponent = 8 - kMaxScale;
constexpr int kHighestExponent = 8;
constexpr std::array<double, kHighestExponent - kLowestExponent + 2> kDecades = {
    1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3,
    1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9};

// The exact way for most values, all in integers: x = m 2^e with m < 2^53, so x 10^s = (m 10^s) 2^e,
// and m 10^s < 2^53 10^22 < 2^127 is an exact 128-bit product. Shifting it right by -e gives the whole
// part, the bits shifted off the remainder, compared with one half for ties to even. s = 8 - k, with
// k the decimal exponent of x, gives the whole part nine digits. From the binary exponent, k is one of
// two values, told apart by a comparison with the power of ten between them; where that power is not a
// double the comparison can be wrong for x next to it, which the check of the nine digits catches.
// Returns false outside the range where every step is exact: x from 1E-14 (s at most 22) up to 1E+09
// (s at least 0, so -e is a right shift), normal x only; and for that rare x.
bool scaled_digits(double x, ScaledDigits& d) {
    const uint64_t x_bits = std::bit_cast<uint64_t>(x);
    const auto biased = static_cast<int>(x_bits >> 52);
    const int shift = 1075 - biased;  // x = m 2^-shift
    // floor(log2(x) log10(2)) is the decimal exponent or one less; 78913 / 2^18 is log10(2) closely
    // enough over the exponents taken here.
    const int k_low = ((biased - 1023) * 78913) >> 18;
    if (biased == 0 || k_low < kLowestExponent - 1 || k_low > kHighestExponent) {
        return false;
    }
    const std::size_t next_decade = static_cast<std::size_t>(k_low + 1 - kLowestExponent);
    const int k = (next_decade < kDecades.size() && x >= kDecades[next_decade]) ? k_low + 1 : k_low;
    const int s = 8 - k;
    if (s < 0 || s > kMaxScale) {
        return false;
    }
    const uint64_t m = (x_bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const unsigned __int128 scaled = static_cast<unsigned __int128>(m) * kPowersOfTen[static_cast<std::size_t>(s)];
    const unsigned __int128 whole = scaled >> shift;
    if (whole < 100000000 || whole >= 1000000000) {
        return false;
    }
    const unsigned __int128 rest = scaled - (whole << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    auto q = static_cast<uint32_t>(whole);
    // Up, or to even at the tie; as arithmetic rather than a branch, which would go either way at random.
    q += static_cast<uint32_t>(rest > half) | (static_cast<uint32_t>(rest == half) & (q % 2));
    d.exponent = k;
    if (q == 1000000000) {  // 999999999.5 rounds up to 1.E+09
        q = 100000000;
        ++d.exponent;
    }
    d.q = q;
    return true;
}

// The eight decimal digits of v (below 10^8), each in one byte (0 to 9) in the order they are written,
// as one little-endian integer: the division by ten is done on all the lanes at once, by multiplying with
// a rounded-up reciprocal that is exact over the values a lane can hold (a lane never carries into the
// next). Stored in one piece, the digits are then read back in one piece.
static_assert(std::endian::native == std::endian::little, "the digits are stored as a little-endian integer");
uint64_t eight_digits(uint32_t v) {
    const uint64_t fours = (v / 10000) | (uint64_t{v % 10000} << 32);        // two lanes of 0 to 9999
    const uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;  // lane / 100
    const uint64_t twos = ((fours - (hundreds * 100)) << 16) | hundreds;     // four lanes of 0 to 99
    const uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000F;         // lane / 10
    return ((twos - (tens * 10)) << 8) | tens;                               // eight lanes of 0 to 9
}

NineDigits digits_of(const ScaledDigits& scaled) {
    NineDigits d{};
    const uint64_t rest = eight_digits(scaled.q % 100000000);
    const uint64_t text = rest | 0x3030303030303030;  // '0' in every byte
    d.digits[0] = static_cast<char>('0' + (scaled.q / 100000000));
    std::memcpy(d.digits + 1, &text, sizeof text);
    // The last digits are the high bytes: each zero byte among them is a trailing zero.
    d.count = 9 - (std::countl_zero(rest) / 8);
    d.exponent = scaled.exponent;
    return d;
}

NineDigits nine_digits(double x) {
    if (ScaledDigits scaled{}; scaled_digits(x, scaled)) {
        return digits_of(scaled);
    }
    NineDigits d{};
    if (round_shortest(x, d)) {
        return d;
    }
    // The exact conversion at nine digits (eight after the point) settles the near-ties; it is slower.
    char text[32];
    const char* const end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, 8).ptr;
    d = parse_scientific(text, end);
    drop_trailing_zeros(d);
    return d;
}

// Copies nine characters whatever count is and moves on by count: a copy of fixed size is a single move
// rather than a call. What lies past count is written over by the rest of the item or left past its
// end: an item never reaches beyond 21 of its kItemTextCapacity bytes this way, and digits has room to
// be read nine characters from any of the first ten.
std::size_t put_digits(char* out, std::size_t at, const char* digits, int count) {
    std::memcpy(out + at, digits, 9);
    return at + static_cast<std::size_t>(count);
}

std::size_t put_zeros(char* out, std::size_t at, int count) {
    for (int i = 0; i < count; ++i) {
        out[at++] = '0';
    }
    return at;
}

// The text "%.9G" gives, with its trailing zeros removed and a decimal point always present: plain
// notation for exponents -4 to 8 ("180." "0.0001"), otherwise one digit, the point, the rest and an
// exponent of at least two digits ("1.E+10" "1.234E-05").
std::size_t lay_out(const NineDigits& d, char* out, std::size_t at) {
    const int x = d.exponent;
    if (x < -4 || x > 8) {
        out[at++] = d.digits[0];
        out[at++] = '.';
        at = put_digits(out, at, d.digits + 1, d.count - 1);
        out[at++] = 'E';
        out[at++] = x < 0 ? '-' : '+';
        const int magnitude = x < 0 ? -x : x;
        if (magnitude < 10) {
            out[at++] = '0';
        }
        return static_cast<std::size_t>(std::to_chars(out + at, out + kItemTextCapacity, magnitude).ptr - out);
    }
    if (x < 0) {
        out[at++] = '0';
        out[at++] = '.';
        at = put_zeros(out, at, -x - 1);
        return put_digits(out, at, d.digits, d.count);
    }
    const int whole = x + 1;
    if (d.count <= whole) {
        at = put_digits(out, at, d.digits, d.count);
        at = put_zeros(out, at, whole - d.count);
        out[at++] = '.';
        return at;
    }
    at = put_digits(out, at, d.digits, whole);
    out[at++] = '.';
    return put_digits(out, at, d.digits + whole, d.count - whole);
}

// The literal steps: a number text without a point of its own gets one, before the exponent when it has
// one ("1.E+10"), else at the end ("180.").
std::size_t force_decimal_point(char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '.') {
            return length;
        }
        if (text[i] == 'E') {
            std::memmove(text + i + 1, text + i, length - i);
            text[i] = '.';
            return length + 1;
        }
    }
    text[length] = '.';
    return length + 1;
}

// Writes the blank and the sign column, and turns x into its magnitude. Returns the whole item's length
// when no conversion is needed (zero and the non-finite values), else 0.
std::size_t sign_and_special_text(double& x, char* out) {
    out[0] = ' ';
    out[1] = ' ';
    if (x < 0.0) {
        out[1] = '-';
        x = -x;
    }
    if (std::isnan(x)) {
        return append(out, 2, "NAN");
    }
    if (std::isinf(x)) {
        return append(out, 2, "INF");
    }
    if (x == 0.0) {
        return append(out, 2, "0.");
    }
    return 0;
}

}  // namespace

std::size_t format_item(double x, char* out, ItemTextForm form) {
    if (const std::size_t n = sign_and_special_text(x, out); n != 0) {
        return n;
    }
    if (form == ItemTextForm::literal) {
        // The program never changes its locale, so the point is ".".
        const int n = std::snprintf(out + 2, kItemTextCapacity - 3, "%.9G", x);
        return 2 + force_decimal_point(out + 2, static_cast<std::size_t>(n));
    }
    // Digits and layout are made here rather than by a formatted-output call: this is the program's
    // hottest conversion.
    return lay_out(nine_digits(x), out, 2);
}
