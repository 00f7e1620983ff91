// Runs a program and writes its wait status and peak resident size (kB) to a file:
//
//     peak_memory RESULT_FILE PROGRAM [ARGUMENT...]
//
// The peak of a child includes what it held before its exec, a copy of whoever forked it. Started from
// here, a small process of its own, the program's peak is its own and not that of a large test program.
// SIGINT and SIGTERM are passed on to the program.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile pid_t child = -1;

void pass_on(int signal_number) {
    if (child > 0) kill(child, signal_number);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peak_memory RESULT_FILE PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = pass_on;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    child = pid;
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr) return 2;
    std::fprintf(result, "%d %ld\n", status, usage.ru_maxrss);
    return std::fclose(result) == 0 ? 0 : 2;
}
