#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "recordio/control_blocks.hpp"
#include "recordio/stream.hpp"

// The unit table: numbered units 0..99 and the files they are connected to.

inline constexpr int kUnitCount = 100;

// Rights of a connection.
inline constexpr int kMayRead = 1;
inline constexpr int kMayWrite = 2;

struct Unit {
    Stream stream;              // attached when the unit is connected
    std::string name;           // the name it was opened under, trailing blanks removed
    bool named = false;         // false for the standard streams and unconnected units
    int32_t record_length = 0;  // 0 for sequential access
    bool can_seek = false;      // the stream is not a terminal
    bool formatted = false;     // text records
    int rights = 0;             // kMayRead, kMayWrite or both
    bool blank_zero = false;    // the blank setting of the open; free-format reading ignores it
    bool at_end = false;        // the stream has met the end of the file
    // 1 when the last operation was a write. A signal handler reads it to know whether to cut the file.
    std::atomic<int> last_op{0};
    bool scratch = false;  // deleted at close
    // Opened with status old: one of the run's inputs. An input is never locked nor created, and a FIFO
    // or device is opened for reading only (an output of those kinds for writing only).
    bool input = false;
    // The file this unit was last an input on. It outlives the connection, so that no output opened
    // later in the run can be the same file.
    struct InputFile {
        bool known = false;
        dev_t device = 0;
        ino_t inode = 0;
        std::string name;
    } input_file;
};

// The process-wide unit table.
extern Unit f__units[kUnitCount];

// The unit's number: its position in the table.
int unit_number(const Unit& unit);

// Connects units 0, 5 and 6 to standard error, input and output. Part of the run-time's initialisation.
void connect_preset_units();

// Initialises the run-time: the state word and the preset units. The first open or transfer calls it
// when start-up has not.
void f_init();

// Opens a unit. With err = 0 every failure ends the run through the fatal report; otherwise the error
// number is returned. Returns 0 on success.
//
// Any open other than an input's takes an advisory lock on its regular file, held until the unit is
// closed: a file another run holds fails with EWOULDBLOCK ("... is being written by another run"), while
// programs that only read the file (under a shared lock) are waited for. Such an open also fails, with
// EINVAL, when the file is one the run has opened as an input, of whatever kind ("... is the same file as
// ..."), before anything can be written to it.
int f_open(const olist* a);

// Closes a unit, keeping or deleting its file; a written file is cut after the current position. A
// written file whose close fails is reported as a failed write ("write end" and the host's text).
int f_clos(const cllist* a);

// Makes a unit ready for writing at its current position. Returns 0, or 1 when it cannot be (errno then
// holds the host's reason, when the file refused a reopen); the caller reports kCantWriteFile.
int f__nowwriting(Unit* x);

// Makes a unit ready for reading at its current position. Returns 0, or 1 when it cannot be (errno as
// above); the caller reports kCantReadFile.
int f__nowreading(Unit* x);

// Closes every unit, once per process, reporting nothing. Async-signal-safe: a written file is cut after
// its last completed flush, pending output is dropped, and names are not released.
void f_exit();
