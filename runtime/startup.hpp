#pragma once

#include <cstdint>

// Stores the program's arguments.
void f_setarg(int32_t argc, char** argv);

// Stops the program: writes "STOP <text> statement executed" when the text is not empty, then exits
// with status 0.
[[noreturn]] void s_stop(const char* text, int32_t length);
