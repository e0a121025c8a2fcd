// The scanf "%i" conversion on one text, without the cost of scanf.
#pragma once

// Leading white space, a sign, "0x" for hexadecimal and "0" for octal are
// accepted; the value is kept modulo 2^32 as glibc stores "%i" into an int.
// Returns false (value untouched) when the text does not begin with a number.
bool scan_int(const char* text, int* value);
