#pragma once

#include <cstddef>

// The text of one free-format double item: a blank, a sign column ("-" below zero, else a blank) and
// the magnitude rounded to nine significant digits ("%.9G" in the C locale), always with a decimal
// point: 180. 1.E+10 0.67. Exponents have at least two digits. Zero of either sign is "0.". The
// non-finite values have one fixed text each, whatever the host or the sign bit of a NaN: "  NAN",
// "  INF" and " -INF".

// Room for the longest item text ("  1.79769313E+308", 17 characters) and more.
inline constexpr std::size_t kItemTextCapacity = 32;

// The two ways to the same text: the fast one forms the nine digits in integers (or from the shortest
// exact text) and lays them out; the literal one calls "%.9G" and forces the point in, the reference
// that the fast one is measured against.
enum class ItemTextForm { fast, literal };

// Writes the item text of x, formed the given way, to out (kItemTextCapacity bytes, not terminated) and
// returns its length, 4 to 17.
std::size_t format_item(double x, char* out, ItemTextForm form);
