#pragma once

#include <cstdint>

#include "recordio/control_blocks.hpp"
#include "recordio/unit_table.hpp"

// What the free-format read and write share: the start of a transfer statement and the item transfers
// that do_lio hands to the read or write under way.

// Marks a free-format operation as under way, records the I/O state for the fatal report and finds the
// unit, connecting an unconnected one to "fort.N". On failure returns the error number (with an error
// branch) or ends the run; otherwise returns 0 and sets *unit.
int32_t list_io_start(const cilist* a, int32_t reading, Unit** unit);

// Marks the free-format operation as finished.
void list_io_finish();

// The items of do_lio, for the read under way (list_read.cpp) and the write under way (list_write.cpp).
int32_t list_read_items(int32_t type, int32_t number, char* ptr, int32_t length);
int32_t list_write_items(int32_t type, int32_t number, char* ptr, int32_t length);
