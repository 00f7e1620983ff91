#include "process/io_state.hpp"

volatile int32_t f__init = 0;

Unit* f__curunit = nullptr;
const char* f__fmtbuf = nullptr;
int32_t f__fmtlen = 0;
int32_t f__reading = 0;
int32_t f__sequential = 0;
int32_t f__formatted = 0;
int32_t f__external = 0;

int32_t f__xargc = 0;
char** f__xargv = nullptr;
