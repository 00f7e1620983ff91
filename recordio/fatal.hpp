#pragma once

#include <cstdint>

// Messages of the run-time's error numbers 100 to 132, in order.
inline constexpr int kFirstMessage = 100;
inline constexpr int kMessageCount = 33;
extern const char* const F_err[kMessageCount];

// The error numbers the run-time raises, named after their messages.
inline constexpr int32_t kIllegalUnitNumber = 101;          // "illegal unit number"
inline constexpr int32_t kFormattedIoNotAllowed = 102;      // "formatted io not allowed"
inline constexpr int32_t kUnformattedIoNotAllowed = 103;    // "unformatted io not allowed"
inline constexpr int32_t kNullFileName = 107;               // "null file name"
inline constexpr int32_t kTruncationFailed = 111;           // "truncation failed in endfile"
inline constexpr int32_t kIncomprehensibleListInput = 112;  // "incomprehensible list input"
inline constexpr int32_t kOutOfFreeSpace = 113;             // "out of free space"
inline constexpr int32_t kReadUnexpectedCharacter = 115;    // "read unexpected character"
inline constexpr int32_t kBadVariableType = 117;            // "bad variable type"
inline constexpr int32_t kCantReadFile = 126;               // "can't read file"
inline constexpr int32_t kCantWriteFile = 127;              // "can't write file"
inline constexpr int32_t kNewFileExists = 128;              // "'new' file exists"
inline constexpr int32_t kCantAppendToFile = 129;           // "can't append to file"
inline constexpr int32_t kIoRecursion = 131;                // "I/O started while already doing I/O"

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
