#pragma once

#include <cstddef>

// The text of one free-format double item: a blank, a sign column ("-" below zero, else a blank) and
// the number rounded to nine significant digits ("%.9G"), always with a decimal point: 180. 1.E+10 0.67.
// Exponents have at least two digits. Zero of either sign is "0."; any NaN is "NAN" with a blank sign
// column, and the infinities are "INF" and "-INF" behind the sign column.

// Room for the longest item text ("  1.79769313E+308", 17 characters) and more.
inline constexpr std::size_t kItemTextCapacity = 32;

// Writes the item text of x to out (kItemTextCapacity bytes, not terminated) and returns its length.
std::size_t format_item(double x, char* out);
