#pragma once

#include <cstddef>

// Writes text to standard error with write(2): async-signal-safe and unbuffered, so the text is out
// before the process aborts. A failure to write is ignored; the process ends the same way.
void write_standard_error(const char* text, std::size_t length);
void write_standard_error(const char* text);
