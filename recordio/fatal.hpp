#pragma once

#include <cstdint>

// Messages of the run-time's error numbers 100 to 132, in order.
inline constexpr int kFirstMessage = 100;
inline constexpr int kMessageCount = 33;
extern const char* const F_err[kMessageCount];

// Writes the fatal report for error number n (-1 end of file, 0..99 a host error code, 100..132 the
// message table) raised by caller, closes all units and aborts the process.
[[noreturn]] void f__fatal(int32_t n, const char* caller);

// With flag 0 (no error branch) exactly f__fatal; otherwise hands n back to the caller.
int32_t err__fl(int32_t flag, int32_t n, const char* caller);

// The same for a failure the host reported through errno, whatever its number: host error codes run past
// 99 (EDQUOT is 122 on Linux) and must not be read as the run-time's own messages 100 to 132.
[[noreturn]] void fatal_host_error(int32_t code, const char* caller);
int32_t err__fl_host(int32_t flag, int32_t code, const char* caller);

// The same for a failure that the run-time describes in words of its own (which name the files
// concerned); with an error branch the host error code is handed back.
[[noreturn]] void fatal_message(const char* message, const char* caller);
int32_t err__fl_message(int32_t flag, int32_t code, const char* message, const char* caller);

// Forms the report's text into out (at most capacity bytes, truncated if longer) and returns its length:
// the first line, the state lines and the "lately" line without its end. Exposed for tests.
std::size_t format_fatal_report(int32_t n, const char* caller, char* out, std::size_t capacity);
