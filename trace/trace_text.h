// The trace's text codec: texts escaped so that any name an app chooses stays
// on one field, and numbers in the one spelling the writer uses, so that a
// value has one form. Pure code over caller-owned buffers, no heap.
#pragma once

#include <cstddef>

#include "bounded_text.h"
#include "scan_int.h"

namespace trace {

// A part of a line, not terminated.
struct field {
  const char* at;
  size_t length;
};

// Numbers as the writer prints them: the plain decimal form (no '+', no
// leading zero, no "-0").
inline bool to_unsigned(field f, unsigned long long* value) { return parse_plain_unsigned(f.at, f.length, value); }
inline bool to_signed(field f, long long low, long long high, long long* value) {
  return parse_plain_signed(f.at, f.length, low, high, value);
}
bool to_int(field f, int low, int high, int* value);

// Escaped copy of a text for one field; false when it does not fit.
bool escape_text(const char* text, char* out, size_t size);
// The text of an escaped field of the given length; false on a bad escape or overflow.
bool unescape_text(const char* field, size_t length, char* out, size_t size);

// A line appended to a caller's buffer with a bound (finish tells whether it fit).
struct line_writer : bounded_text {
  void put(const char* text, size_t length) { put_bytes(text, length); }
  void put(const char* text);
  void put_unsigned(unsigned long long value);
  void put_signed(long long value);
  // A tab, then the value: the next column of a row.
  void put_column(long long value) {
    put_char('\t');
    put_signed(value);
  }
  // The text escaped; false once the buffer is full.
  bool put_escaped(const char* text);
};
}  // namespace trace
