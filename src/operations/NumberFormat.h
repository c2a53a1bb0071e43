#pragma once

#include <string>

// The logger's recorded extremes as the window shows them: general number format
// with 5 significant digits. The value is rounded to 5 significant digits and
// written in its shortest form, trailing zeros and a bare decimal point dropped.
// Fixed notation, unless the rounded value has more than 5 integer digits or its
// magnitude is below 0.0001; then scientific notation: one digit, the point and
// up to four more digits, "E", the exponent's sign and at least two exponent
// digits ("1.2346E+05", "5E-05"). Zero, also negative zero, is "0".
//
// The decimal separator is decimalSeparator; the window shows the PC's own
// (RegionalDecimalSeparator). Only the display changes: the logger's numbers are
// always read with '.'.
std::string FormatGeneral5(float value, char decimalSeparator = '.');

// The PC's decimal separator: on Windows the user's regional setting, elsewhere
// that of the C library's numeric locale, which the program takes from the
// environment at start-up. '.' where the setting is no single ASCII character,
// since the labels carry single-byte text.
char RegionalDecimalSeparator();
