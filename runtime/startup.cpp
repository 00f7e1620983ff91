#include "runtime/startup.hpp"

#include <cstdlib>

#include "process/io_state.hpp"
#include "process/standard_error.hpp"

void f_setarg(int32_t argc, char** argv) {
    f__xargc = argc;
    f__xargv = argv;
}

void s_stop(const char* text, int32_t length) {
    if (length > 0) {
        write_standard_error("STOP ");
        write_standard_error(text, static_cast<std::size_t>(length));
        write_standard_error(" statement executed\n");
    }
    std::exit(0);
}
