#pragma once

// Which forms a run computes its rows and forms its item texts in: the production forms, or the literal
// ones that carry out every step as written, the reference that whole runs of the production program
// are compared with.
enum class Forms { production, literal };

// The ephemeris run: reads the two orbits, the start time and the row count from "DATOS.DAT", writes
// one row per day to "ZEPO.DAT" and stops with exit status 0. Every file failure ends the run through
// the run-time's fatal report, so this never returns.
[[noreturn]] void ephemeris_run(Forms forms);
