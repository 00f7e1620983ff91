#pragma once

// The signal traps. Each ends the run through sig_die with its message.

// Installs the traps for SIGFPE, SIGABRT, SIGINT and SIGTERM; a SIGINT that was ignored stays ignored.
// SIGPIPE and SIGXFSZ are ignored, so that they fail the write that meets them instead of ending the run.
void f_setsig();

void sigfdie(int signal_number);
void sigidie(int signal_number);
void sigindie(int signal_number);
void sigtdie(int signal_number);
