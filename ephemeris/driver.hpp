#pragma once

// The ephemeris run: reads the two orbits, the start time and the row count from "DATOS.DAT", writes
// one row per day to "ZEPO.DAT" and stops with exit status 0. Every file failure ends the run through
// the run-time's fatal report, so this never returns.
[[noreturn]] void ephemeris_run();
