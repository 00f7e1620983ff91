#pragma once

#include <cstddef>

// The text of one free-format double item: a blank, a sign column ("-" below zero, else a blank) and
// the magnitude rounded to nine significant digits ("%.9G" in the C locale), always with a decimal
// point: 180. 1.E+10 0.67. Exponents have at least two digits. Zero of either sign is "0.". The
// non-finite values have one fixed text each, whatever the host or the sign bit of a NaN: "  NAN",
// "  INF" and " -INF".

// Room for the longest item text ("  1.79769313E+308", 17 characters) and more.
inline constexpr std::size_t kItemTextCapacity = 32;

// Writes the item text of x to out (kItemTextCapacity bytes, not terminated) and returns its length,
// 4 to 17.
std::size_t format_item(double x, char* out);

// The two ways to the same text: the fast one forms the nine digits from the shortest exact text and
// lays them out; the literal one calls "%.9G" and forces the point in. format_item uses the fast one,
// and the literal one in a build with EPHEM_LITERAL, the reference for tests and benchmarks.
std::size_t format_item_fast(double x, char* out);
std::size_t format_item_literal(double x, char* out);
