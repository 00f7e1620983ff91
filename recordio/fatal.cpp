#include "recordio/fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "process/io_state.hpp"
#include "process/standard_error.hpp"
#include "recordio/sig_die.hpp"
#include "recordio/unit_table.hpp"

const char* const F_err[kMessageCount] = {
    "error in format",                         // 100
    "illegal unit number",                     // 101
    "formatted io not allowed",                // 102
    "unformatted io not allowed",              // 103
    "direct io not allowed",                   // 104
    "sequential io not allowed",               // 105
    "can't backspace file",                    // 106
    "null file name",                          // 107
    "can't stat file",                         // 108
    "unit not connected",                      // 109
    "off end of record",                       // 110
    "truncation failed in endfile",            // 111
    "incomprehensible list input",             // 112
    "out of free space",                       // 113
    "unit not connected",                      // 114
    "read unexpected character",               // 115
    "bad logical input field",                 // 116
    "bad variable type",                       // 117
    "bad namelist name",                       // 118
    "variable not in namelist",                // 119
    "no end record",                           // 120
    "variable count incorrect",                // 121
    "subscript for scalar variable",           // 122
    "invalid array section",                   // 123
    "substring out of bounds",                 // 124
    "subscript out of bounds",                 // 125
    "can't read file",                         // 126
    "can't write file",                        // 127
    "'new' file exists",                       // 128
    "can't append to file",                    // 129
    "non-positive record number",              // 130
    "I/O started while already doing I/O",     // 131
    "Temporary file name (TMPDIR?) too long",  // 132
};

namespace {

// Set by the first report of the run and never cleared: a report raised while one is being made aborts.
bool report_guard = false;

// Appends printf-style text to out, never beyond capacity; returns the new length.
std::size_t append(char* out, std::size_t capacity, std::size_t length, const char* format, ...) {
    if (length >= capacity) {
        return length;
    }
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out + length, capacity - length, format, args);
    va_end(args);
    if (n < 0) {
        return length;
    }
    const std::size_t added = static_cast<std::size_t>(n);
    return added < capacity - length ? length + added : capacity - 1;
}

std::size_t first_line(int32_t n, const char* caller, char* out, std::size_t capacity) {
    if (n >= 0 && n < kFirstMessage) {
        return append(out, capacity, 0, "%s: %s\n", caller, std::strerror(n));
    }
    if (n == -1) {
        return append(out, capacity, 0, "%s: end of file\n", caller);
    }
    if (n >= kFirstMessage && n < kFirstMessage + kMessageCount) {
        return append(out, capacity, 0, "%s: %s\n", caller, F_err[n - kFirstMessage]);
    }
    return append(out, capacity, 0, "%s: illegal error number %d\n", caller, n);
}

std::size_t state_lines(char* out, std::size_t capacity, std::size_t length) {
    if (f__curunit != nullptr) {
        length = append(out, capacity, length, "apparent state: unit %d ", unit_number(*f__curunit));
        length = f__curunit->named ? append(out, capacity, length, "named %s\n", f__curunit->name.c_str())
                                   : append(out, capacity, length, "(unnamed)\n");
    } else {
        length = append(out, capacity, length, "apparent state: internal I/O\n");
    }
    if (f__fmtbuf != nullptr) {
        length = append(out, capacity, length, "last format: %.*s\n", static_cast<int>(f__fmtlen), f__fmtbuf);
    }
    return append(out, capacity, length, "lately %s %s %s %s", f__reading != 0 ? "reading" : "writing",
                  f__sequential != 0 ? "sequential" : "direct", f__formatted != 0 ? "formatted" : "unformatted",
                  f__external != 0 ? "external" : "internal");
}

}  // namespace

std::size_t format_fatal_report(int32_t n, const char* caller, char* out, std::size_t capacity) {
    std::size_t length = first_line(n, caller, out, capacity);
    if ((f__init & kInitialised) != 0) {
        length = state_lines(out, capacity, length);
    }
    return length;
}

namespace {

// Writes the report that begins with first (a whole line), closes all units and aborts.
[[noreturn]] void report_and_die(const char* first, std::size_t first_length) {
    write_standard_error(first, first_length);
    if (report_guard) {
        write_standard_error("(f__fatal already called, aborting.)");
        std::abort();
    }
    report_guard = true;
    if ((f__init & kInitialised) != 0) {
        char text[1024];
        const std::size_t length = state_lines(text, sizeof text, 0);
        write_standard_error(text, length);
    }
    f__init = f__init & ~kUnderWay;
    sig_die(" IO", 1);
}

}  // namespace

void f__fatal(int32_t n, const char* caller) {
    char text[512];
    report_and_die(text, first_line(n, caller, text, sizeof text));
}

void fatal_host_error(int32_t code, const char* caller) { fatal_message(std::strerror(code), caller); }

void fatal_message(const char* message, const char* caller) {
    char text[1024];
    report_and_die(text, append(text, sizeof text, 0, "%s: %s\n", caller, message));
}

// A statement that takes its error branch has ended: it no longer counts as under way, or every later
// open and close would fail as a recursion.
int32_t err__fl(int32_t flag, int32_t n, const char* caller) {
    if (flag == 0) {
        f__fatal(n, caller);
    }
    f__init = f__init & ~kUnderWay;
    return n;
}

int32_t err__fl_host(int32_t flag, int32_t code, const char* caller) {
    return err__fl_message(flag, code, std::strerror(code), caller);
}

int32_t err__fl_message(int32_t flag, int32_t code, const char* message, const char* caller) {
    if (flag == 0) {
        fatal_message(message, caller);
    }
    f__init = f__init & ~kUnderWay;
    return code;
}
