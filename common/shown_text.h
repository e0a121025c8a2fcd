// Texts that apps chose (process names, command lines), put on a terminal or
// into a text report so that they stay text: printable ASCII and valid UTF-8
// as they are; bytes that are no UTF-8 and the characters that move or hide
// what is shown (is_control_character: C0, DEL, C1, the line separators,
// Unicode's Bidi_Control list) as \xHH bytes.
#pragma once

#include <cstddef>

#include "utf8.h"

// One byte as the four characters "\xHH".
inline void hex_escape(unsigned char byte, char (&out)[4]) {
  constexpr char hex[] = "0123456789abcdef";
  out[0] = '\\', out[1] = 'x', out[2] = hex[byte >> 4], out[3] = hex[byte & 15];
}

enum class shown_form {
  // Raw bytes: backslash, newline, tab and return also become "\\", "\n",
  // "\t" and "\r", so that a shown text reads back one way.
  bytes,
  // Kernel log text, in which calmd wrote every backslash of a name as \x5c:
  // a backslash there starts calmd's own escape and stays, so that a name
  // shows as dmesg shows it.
  kernel_log,
};

template <class Put>
void shown_text_body(const char* text, size_t size, shown_form form, Put&& put) {
  for (size_t at = 0; at < size;) {
    const utf8_character c = decode_utf8(text, size, at);
    const size_t length = c.length == 0 ? 1 : c.length;
    const char named = form != shown_form::bytes ? '\0'
                       : c.code == '\\'          ? '\\'
                       : c.code == '\n'          ? 'n'
                       : c.code == '\t'          ? 't'
                       : c.code == '\r'          ? 'r'
                                                 : '\0';
    if (named != '\0') {
      const char escaped[2] = {'\\', named};
      put(escaped, 2);
    } else if (c.length == 0 || is_control_character(c.code)) {
      for (size_t i = 0; i < length; ++i) {
        char escaped[4];
        hex_escape(static_cast<unsigned char>(text[at + i]), escaped);
        put(escaped, 4);
      }
    } else {
      put(text + at, length);
    }
    at += length;
  }
}
