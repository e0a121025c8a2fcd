// Whole numbers in a text: the scanf "%i" conversion, without the cost of
// scanf, and the plain decimal form that a person types.
#pragma once

#include <cstddef>

// Leading white space, a sign, "0x" for hexadecimal and "0" for octal are
// accepted; the value is kept modulo 2^32 as glibc stores "%i" into an int.
// Returns false (value untouched) when the text does not begin with a number.
bool scan_int(const char* text, int* value);

// A whole decimal number written plainly, as the whole text: an optional
// '-', then digits with no leading zero ("-5", "16384"; not "010", "0x10",
// " 5", "+5", "-0"), within int. Returns false (value untouched) otherwise.
bool parse_plain_int(const char* text, int* value);
// The same rule over length bytes (no terminator needed): digits alone for
// the unsigned form (any 64-bit value), a '-' before a magnitude other than 0
// for the signed one, within low..high.
bool parse_plain_unsigned(const char* text, size_t length, unsigned long long* value);
bool parse_plain_signed(const char* text, size_t length, long long low, long long high, long long* value);
