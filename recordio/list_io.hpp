#pragma once

#include <cstdint>

#include "recordio/control_blocks.hpp"
#include "recordio/item_text.hpp"

// Free-format (list-directed) reading and writing: a start, one transfer per item, an end.

// Item type codes of do_lio.
inline constexpr int32_t kTypeInteger = 3;  // signed 32-bit integer, 4 bytes
inline constexpr int32_t kTypeDouble = 5;   // IEEE double, 8 bytes

// Begins a free-format read on a->unit. Returns 0; every failure is fatal.
int32_t s_rsle(const cilist* a);
// Ends the read: skips the rest of the line. Returns 0, or -1 when the end of the file came first.
int32_t e_rsle();

// Begins a free-format write on a->unit whose items are formed the given way (the literal form serves
// the program that the production one is compared with). Returns 0; every failure is fatal.
int32_t s_wsle(const cilist* a, ItemTextForm form = ItemTextForm::fast);
// Ends the write: ends the line and flushes the unit. Returns 0; a failed flush is fatal.
int32_t e_wsle();

// Transfers number items of type (kTypeInteger or kTypeDouble), each length bytes long, starting at
// ptr, for the read or write under way. Returns 0; every failure is fatal.
int32_t do_lio(int32_t type, int32_t number, void* ptr, int32_t length);
