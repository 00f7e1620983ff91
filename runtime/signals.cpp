#include "runtime/signals.hpp"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "recordio/unit_table.hpp"
#include "runtime/standard_error.hpp"

namespace {

using Handler = void (*)(int);

// Installs handler for signal and returns the action it replaced. While one trap runs the others wait,
// so a second signal cannot cut the close of the units short.
Handler install(int signal_number, Handler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int held : {SIGFPE, SIGABRT, SIGINT, SIGTERM}) {
        sigaddset(&action.sa_mask, held);
    }
    struct sigaction previous {};
    sigaction(signal_number, &action, &previous);
    return previous.sa_handler;
}

// Whether the process was started with signal_number ignored.
bool started_ignoring(int signal_number) {
    struct sigaction current {};
    return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

void f_setsig() {
    install(SIGFPE, sigfdie);
    install(SIGABRT, sigidie);
    // A process started with interrupts ignored (in the background of a shell) keeps ignoring them. The
    // action is asked first, so that no interrupt can find the trap installed for a moment.
    if (!started_ignoring(SIGINT)) {
        install(SIGINT, sigindie);
    }
    install(SIGTERM, sigtdie);
}

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

void sigfdie(int) { sig_die("Floating Exception", 1); }
void sigidie(int) { sig_die("IOT Trap", 1); }
void sigindie(int) { sig_die("Interrupt", 0); }
void sigtdie(int) { sig_die("Killed", 0); }
