#pragma once

#include "program/driver.hpp"

// What main does: answers "--help" or "--version" given alone; otherwise starts the run-time (the
// floating-point environment, the stored arguments, the signal traps, the unit table and the close of
// the units at exit) and runs the ephemeris in the given forms, which never returns. Returns the exit
// status of an answered option.
int start_program(int argc, char** argv, Forms forms);
