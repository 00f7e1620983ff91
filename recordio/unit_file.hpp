#pragma once

#include <string>

#include "recordio/unit_table.hpp"

// How a unit's file is opened, locked and told apart from the run's other files: the pieces of the open
// and the switches that touch the file system. Used by the unit table only.

// Opens name with flags (O_CLOEXEC added, new files 0666 less the umask) on a descriptor above 2.
int open_fd(const std::string& name, int flags);

// Connects the unit's stream to name, choosing how to open it (see unit_file.cpp); false with errno set
// when it cannot be opened, EWOULDBLOCK when another run holds the file, and same_as_input set when the
// file opened for an output is one of the run's inputs.
bool connect_stream(Unit& unit, const std::string& name, const Unit*& same_as_input);

// Attaches fd to the unit's stream, locking an output first; false with fd closed when an output's file
// is one of the run's inputs (*same_as_input set, when given) or another run holds it (errno
// EWOULDBLOCK).
bool attach_file(Unit& unit, int fd, const Unit** same_as_input = nullptr);

// The unit that was an input of this run on the same file as name, or as the open file fd, or none;
// and the record of the unit's own file, once it is connected as an input.
const Unit* input_on_same_file(const std::string& name);
const Unit* input_on_same_descriptor(int fd);
void remember_input_file(Unit& unit);

// Fills standard descriptors the process was started without, so that no unit's file takes them.
void occupy_closed_standard_descriptors();

// A fresh temporary file for a scratch unit; false with errno set when none can be made.
bool make_scratch_name(std::string& name);
