#pragma once

// The one way a run ends abnormally: the fatal report and the signal traps both come here, so that the
// units are closed (every written file cut after its last whole row) whatever ends the run.

// Writes message and a line end to standard error, closes all units and ends the process: by abort when
// kill is nonzero, otherwise with exit status 1. Async-signal-safe.
[[noreturn]] void sig_die(const char* message, int kill);
