#pragma once
// The copier's whole-number rule, shared by the spin edits, the page lists, the file names of
// saved pictures and the settings file, so that a number typed anywhere reads the same.
//
// A text is a whole number when, after any leading blanks (spaces only), it consists of an
// optional sign and decimal digits, or of an optional sign and a hexadecimal number written
// with a leading "$", "0x" or "0X", up to its very end, and the value fits a signed 32-bit
// integer. Anything else (empty text, a lone sign or prefix, trailing blanks, other characters,
// a value beyond 32 bits) is not a number.

#include <QStringView>

// True and the value when `text` is a whole number; false, `value` untouched, otherwise.
bool ReadWholeNumber(QStringView text, int& value);
