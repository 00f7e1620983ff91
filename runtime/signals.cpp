#include "runtime/signals.hpp"

#include <csignal>
#include <initializer_list>

#include "recordio/sig_die.hpp"

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
    // A reader that has gone (SIGPIPE) or a file-size limit (SIGXFSZ) would otherwise end the run at
    // once, in the middle of a row and before the units are closed. Ignored, they make the write fail
    // with the host's text ("Broken pipe", "File too large"), and the run ends through its report with
    // whole rows; a report or trap message that cannot be written is simply lost.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void sigfdie(int) { sig_die("Floating Exception", 1); }
void sigidie(int) { sig_die("IOT Trap", 1); }
void sigindie(int) { sig_die("Interrupt", 0); }
void sigtdie(int) { sig_die("Killed", 0); }
