// Free-format reading: values separated by blanks, tabs, commas and line ends, null values, repeat
// counts (r*value, and r* alone for r null values), the slash that ends a read early, and numbers with
// an optional exponent. Every read ends by skipping the rest of the line its last value stood on.
//
// The text is taken one byte at a time from the unit's stream and nothing is allocated: a number is
// assembled in a fixed buffer of at most 40 significant digits and a decimal exponent.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "recordio/fatal.hpp"
#include "recordio/list_io.hpp"
#include "recordio/list_io_internal.hpp"

namespace {

constexpr int kEof = Stream::kEof;

// Significant digits kept of a number, and the longest repeat count accepted.
constexpr int kMaxDigits = 40;
// The largest value an exponent field may hold.
constexpr int64_t kMaxExponentField = 99999999;
// A decimal exponent beyond this, with at most 40 digits, is far outside the range of a double either
// way (an infinity or zero), so it is clamped before it is written out for the conversion.
constexpr int64_t kExponentClamp = 100000;

// The state of the read under way; one read is under way at a time.
struct ReadState {
    Unit* unit = nullptr;
    int32_t repeat = 0;       // items, the current one included, still to be served by the last value
    bool slash_seen = false;  // a slash has ended the read
    bool end_met = false;     // the read has met the end of the file
    double value = 0.0;       // the last value read
    bool present = false;     // false when the last value was a null value
    // A character the grammar has put back. Telling a carriage return and line feed pair from a lone
    // carriage return needs one byte of look-ahead besides, which the stream holds.
    int held = kEof;
    // The look-ahead after a carriage return met the end of the file. The carriage return is still an
    // ordinary character of the text, so the end counts only when the byte after it is asked for.
    bool end_ahead = false;
    int32_t err = 0;  // the read has an error branch: failures other than the end of file come back
    int32_t end = 0;  // the read has an end-of-file branch: the end of the file comes back
};
ReadState state;

// A failure on its way back to a read that has a branch for it. It unwinds the grammar from wherever the
// failure was met to the operation the caller called, which returns n.
struct BranchTaken {
    int32_t n;
};

// The program's reads carry no branches, so there a failing transfer always ends the run.
[[noreturn]] void fail(int32_t n, const char* caller) {
    if ((n == -1 ? state.end : state.err) != 0) {
        throw BranchTaken{n};
    }
    f__fatal(n, caller);
}

// The read ends at a branch: nothing is under way any more, so the unit can be closed.
int32_t take_branch(int32_t n) {
    list_io_finish();
    return n;
}

// The next byte of the stream, or kEof at its end. A read error ends the run with the host's code, so
// that a failing file is never taken for a short one.
int stream_byte() {
    Stream& in = state.unit->stream;
    const int c = in.get();
    if (c == kEof && in.read_error()) {
        const int code = in.read_errno();
        in.clear_read_error();
        errno = code;
        if (state.err != 0) {
            throw BranchTaken{code};
        }
        fatal_host_error(code, "list in");
    }
    return c;
}

// The next byte of the text. Meeting the end of the file marks both the read and the unit.
int next_byte() {
    const int c = state.end_ahead ? kEof : stream_byte();
    state.end_ahead = false;
    if (c == kEof) {
        state.unit->at_end = true;
        state.end_met = true;
    }
    return c;
}

// The next character of the text: a carriage return directly followed by a line feed is part of the
// line end and arrives as '\n'; any other carriage return is an ordinary character.
int get_char() {
    if (state.held != kEof) {
        const int c = state.held;
        state.held = kEof;
        return c;
    }
    if (state.unit->at_end) {
        return kEof;
    }
    const int c = next_byte();
    if (c != '\r') {
        return c;
    }
    const int after = stream_byte();
    if (after == '\n') {
        return '\n';
    }
    if (after == kEof) {
        state.end_ahead = true;
    } else {
        state.unit->stream.unget(after);
    }
    return '\r';
}

void unget_char(int c) { state.held = c; }

bool is_blank(int c) { return c == ' ' || c == '\t'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_sign(int c) { return c == '+' || c == '-'; }
bool is_exponent_letter(int c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

// A number as read: its sign, its significant digits (at most kMaxDigits) and a decimal exponent that
// places the point after the last kept digit. The exponent is 64-bit: every digit dropped before the
// point raises it, and a line may hold any number of them.
struct Number {
    bool negative = false;
    char digits[kMaxDigits];
    int count = 0;
    int64_t exponent = 0;
    bool has_digit = false;  // the mantissa held a digit, leading zeros included
};

// Reads the digits before a decimal point, starting with c; returns the character after them.
int read_whole_digits(Number& number, int c) {
    while (c == '0') {
        number.has_digit = true;
        c = get_char();
    }
    while (is_digit(c)) {
        number.has_digit = true;
        if (number.count < kMaxDigits) {
            number.digits[number.count++] = static_cast<char>(c);
        } else {
            ++number.exponent;  // dropped, but its place still counts
        }
        c = get_char();
    }
    return c;
}

// Reads the digits after a decimal point, starting with c; returns the character after them. Digits
// beyond the 40th are dropped without rounding.
int read_fraction_digits(Number& number, int c) {
    if (number.count == 0) {
        while (c == '0') {
            number.has_digit = true;
            --number.exponent;
            c = get_char();
        }
    }
    while (is_digit(c)) {
        number.has_digit = true;
        if (number.count < kMaxDigits) {
            number.digits[number.count++] = static_cast<char>(c);
            --number.exponent;
        }
        c = get_char();
    }
    return c;
}

// Reads an exponent field after its letter or lone sign; c is the sign or the first digit. Returns the
// character after it.
int read_exponent(Number& number, int c) {
    bool minus = false;
    if (is_sign(c)) {
        minus = c == '-';
        c = get_char();
    }
    if (!is_digit(c)) {
        fail(kIncomprehensibleListInput, "exponent field");
    }
    int64_t e = c - '0';
    while (is_digit(c = get_char())) {
        e = (10 * e) + (c - '0');
        if (e > kMaxExponentField) {
            fail(kIncomprehensibleListInput, "exponent field");
        }
    }
    number.exponent += minus ? -e : e;
    return c;
}

// The repeat count of the digits read before an asterisk. Counts beyond the 32-bit range serve every
// item of any read, so they are held as the largest count.
int32_t repeat_count(const Number& number) {
    if (number.count == 0 || number.exponent != 0 || number.negative) {
        fail(kIncomprehensibleListInput, "bad repetition count");
    }
    int64_t r = 0;
    for (int i = 0; i < number.count && r <= INT32_MAX; ++i) {
        r = (10 * r) + (number.digits[i] - '0');
    }
    return r > INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
}

// The nearest double to the number, by the C library's correctly rounded conversion. The text holds
// no decimal point, so the locale plays no part.
double to_double(Number& number) {
    if (number.count == 0) {
        return 0.0;  // positive even after a minus sign
    }
    while (number.digits[number.count - 1] == '0') {
        --number.count;
        ++number.exponent;
    }
    int64_t exponent = number.exponent;
    if (exponent > kExponentClamp) {
        exponent = kExponentClamp;
    } else if (exponent < -kExponentClamp) {
        exponent = -kExponentClamp;
    }
    char text[1 + kMaxDigits + 1 + 24];
    std::size_t n = 0;
    if (number.negative) {
        text[n++] = '-';
    }
    std::memcpy(text + n, number.digits, static_cast<std::size_t>(number.count));
    n += static_cast<std::size_t>(number.count);
    text[n++] = 'e';
    const std::to_chars_result end = std::to_chars(text + n, text + sizeof text - 1, exponent);
    *end.ptr = '\0';
    return std::strtod(text, nullptr);
}

// Reads one value field: an optional repeat part, then a number. Sets the repeat count, the value and
// whether it is present; the character that ended the field is put back.
void read_field(bool integer_item) {
    state.repeat = 1;
    bool after_star = false;
    Number number;
    int c;
    for (;;) {
        number = Number{};
        c = get_char();
        if (is_sign(c)) {
            number.negative = c == '-';
            c = get_char();
        }
        c = read_whole_digits(number, c);
        if (c != '*' || after_star) {
            break;
        }
        state.repeat = repeat_count(number);
        after_star = true;
    }
    if (c == '.') {
        if (integer_item) {
            fail(kReadUnexpectedCharacter, "invalid integer");
        }
        c = read_fraction_digits(number, get_char());
    }
    if (is_sign(c)) {
        c = read_exponent(number, c);
    } else if (number.has_digit && is_exponent_letter(c)) {
        if (integer_item) {
            fail(kReadUnexpectedCharacter, "invalid integer");
        }
        c = read_exponent(number, get_char());
    }
    unget_char(c);

    state.value = to_double(number);
    state.present = number.has_digit;
    if (state.present || c == ',' || c == '/') {
        return;
    }
    if (after_star && (is_blank(c) || c == '\n')) {
        return;  // r* followed by a blank: r null values
    }
    fail(kIncomprehensibleListInput, "invalid number");
}

enum class Start { kField, kNull, kSlash };

// Looks for the next value past blanks, tabs and line ends.
Start find_value() {
    for (;;) {
        const int c = get_char();
        if (is_blank(c) || c == '\n') {
            continue;
        }
        if (c == kEof) {
            fail(-1, "list in");
        }
        if (c == '/') {
            return Start::kSlash;
        }
        if (c == ',') {
            return Start::kNull;
        }
        unget_char(c);
        return Start::kField;
    }
}

// After a value: blanks and tabs are passed over, and a comma on the same line ends the value, unless
// the value is still to serve further items.
void pass_separator() {
    int c;
    do {
        c = get_char();
    } while (is_blank(c));
    if (c != ',' || state.repeat > 1) {
        unget_char(c);
    }
}

// The row count: the value truncated toward zero. A value outside the 32-bit range has no such integer
// and gives the most negative one; the range test comes first because converting it would be undefined.
int32_t to_integer(double value) {
    if (value > -2147483649.0 && value < 2147483648.0) {
        return static_cast<int32_t>(value);
    }
    return INT32_MIN;
}

void store(int32_t type, char* item) {
    if (type == kTypeDouble) {
        std::memcpy(item, &state.value, sizeof state.value);
    } else {
        const int32_t value = to_integer(state.value);
        std::memcpy(item, &value, sizeof value);
    }
}

}  // namespace

int32_t s_rsle(const cilist* a) {
    Unit* unit = nullptr;
    state.err = a->err;
    state.end = a->end;
    if (const int32_t failed = list_io_start(a, 1, &unit); failed != 0) {
        return failed;
    }
    state.unit = unit;
    state.repeat = 0;
    state.slash_seen = false;
    state.end_met = false;
    state.held = kEof;
    state.end_ahead = false;
    if (unit->last_op.load() == 1 && f__nowreading(unit) != 0) {
        return err__fl(a->err, kCantReadFile, "read start");
    }
    if (unit->at_end) {
        return err__fl(a->end, -1, "read start");
    }
    return 0;
}

namespace {

int32_t read_items(int32_t type, int32_t number, char* ptr, int32_t length) {
    if (type != kTypeInteger && type != kTypeDouble) {
        fail(kBadVariableType, "unknown type in lio");
    }
    for (int32_t i = 0; i < number; ++i) {
        if (state.slash_seen) {
            return 0;
        }
        if (state.end_met) {
            fail(-1, "list in");
        }
        if (state.repeat == 0) {
            state.present = false;
            const Start start = find_value();
            if (start == Start::kSlash) {
                state.slash_seen = true;
                return 0;
            }
            if (start == Start::kNull) {
                continue;
            }
            read_field(type == kTypeInteger);
        }
        pass_separator();
        if (state.present) {
            store(type, ptr + static_cast<std::ptrdiff_t>(i) * length);
        }
        if (state.repeat > 0) {
            --state.repeat;
        }
    }
    return 0;
}

int skip_rest_of_line() {
    int c;
    do {
        c = get_char();
    } while (c != '\n' && c != kEof);
    return c;
}

}  // namespace

int32_t list_read_items(int32_t type, int32_t number, char* ptr, int32_t length) {
    try {
        return read_items(type, number, ptr, length);
    } catch (const BranchTaken& failure) {
        return take_branch(failure.n);
    }
}

int32_t e_rsle() {
    list_io_finish();
    if (state.unit->at_end) {
        return 0;
    }
    try {
        return skip_rest_of_line() == kEof ? -1 : 0;
    } catch (const BranchTaken& failure) {
        return failure.n;  // a read error while skipping
    }
}
