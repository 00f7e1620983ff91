#include "recordio/sig_die.hpp"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "process/standard_error.hpp"
#include "recordio/unit_table.hpp"

// Every call here is async-signal-safe: the traps reach it at any moment, also in the middle of a write.
void sig_die(const char* message, int kill) {
    write_standard_error(message);
    write_standard_error("\n");
    f_exit();
    if (kill != 0) {
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(SIGABRT, &default_action, nullptr);
        std::abort();
    }
    // The units are closed already; the C library's exit handlers and buffers are not safe here.
    _exit(1);
}
