// Text appended to a caller's fixed buffer, for the writers of status and
// trace lines.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// The position runs past size on overflow, so that one test at the end
// (finish) tells.
struct bounded_text {
  char* out;
  size_t size;
  size_t at = 0;

  void put_bytes(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i, ++at)
      if (at < size) out[at] = text[i];
  }
  void put_char(char c) { put_bytes(&c, 1); }
  void put(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    const size_t room = at < size ? size - at : 0;
    const int n = vsnprintf(room > 0 ? out + at : nullptr, room, format, args);
    va_end(args);
    if (n > 0) at += static_cast<size_t>(n);
  }
  // Terminates; the length, or -1 (and an empty text) when it did not fit.
  int finish() {
    if (at >= size) {
      if (size > 0) out[0] = '\0';
      return -1;
    }
    out[at] = '\0';
    return static_cast<int>(at);
  }
};
