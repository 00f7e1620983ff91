#include "recordio/item_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

std::size_t append(char* out, std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out + at, text, n);
    return at + n;
}

// Every finite number shows a decimal point: before the exponent when it has none of its own, else at
// the end ("1.E+10", "180.").
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

}  // namespace

std::size_t format_item(double x, char* out) {
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
    // to_chars in general format with a precision is "%.9g" in the C locale whatever the host's locale
    // (no decimal comma can slip in); only the exponent letter needs raising. Its text is at most 15
    // characters, so the room always suffices, with one byte kept for the point added below.
    char* const first = out + 2;
    const char* const end = std::to_chars(first, out + kItemTextCapacity - 1, x, std::chars_format::general, 9).ptr;
    const std::size_t length = static_cast<std::size_t>(end - first);
    for (char* c = first; c != first + length; ++c) {
        if (*c == 'e') {
            *c = 'E';
        }
    }
    return 2 + force_decimal_point(first, length);
}
