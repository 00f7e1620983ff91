#pragma once

#include <cstdint>

struct Unit;

// Process-wide state of the run-time. Set by start-up, the opens and the beginning and end of every
// free-format read or write; read by the fatal report, which describes the operation that failed.

// Run-time state word: kInitialised once the run-time is ready, plus kUnderWay while a free-format read
// or write is in progress.
inline constexpr int32_t kInitialised = 1;
inline constexpr int32_t kUnderWay = 2;
extern volatile int32_t f__init;

extern Unit* f__curunit;       // the current unit, or none
extern const char* f__fmtbuf;  // the last format, or none
extern int32_t f__fmtlen;      // characters of f__fmtbuf that the report prints
extern int32_t f__reading;     // 1: the latest transfer was a read
extern int32_t f__sequential;  // 1: the latest transfer was sequential
extern int32_t f__formatted;   // 1: the latest transfer was formatted
extern int32_t f__external;    // 1: the latest operation was on an external unit

// The program's arguments, kept as the host delivered them and never read.
extern int32_t f__xargc;
extern char** f__xargv;
