#pragma once

// Signal traps and the signal death shared with the fatal report.

// Installs the traps for SIGFPE, SIGABRT, SIGINT and SIGTERM; a SIGINT that was ignored stays ignored.
void f_setsig();

// Writes message and a line end to standard error, closes all units and ends the process: by abort when
// kill is nonzero, otherwise with exit status 1. Async-signal-safe.
[[noreturn]] void sig_die(const char* message, int kill);

void sigfdie(int signal_number);
void sigidie(int signal_number);
void sigindie(int signal_number);
void sigtdie(int signal_number);
