// Texts that apps chose (process names, titles), put into JSON so that they
// stay one string of text in any reader: a browser's, jq, Perfetto's.
#pragma once

#include <cstddef>

#include "utf8.h"

// The inside of the JSON string for the text, handed piece by piece to
// put(const char* data, size_t length): valid UTF-8 whatever the bytes (a
// byte that is no UTF-8 becomes U+FFFD), quote and backslash escaped, every
// control character, '<', '>', '&' and the line separators as \u escapes.
template <class Put>
void json_string_body(const char* text, size_t size, Put&& put) {
  for (size_t at = 0; at < size;) {
    const utf8_character c = decode_utf8(text, size, at);
    if (c.length == 0) {
      put("\\ufffd", 6);
      ++at;
      continue;
    }
    if (c.code == '"' || c.code == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c.code)};
      put(escaped, 2);
    } else if (is_control_character(c.code) || c.code == '<' || c.code == '>' || c.code == '&') {
      // All these characters lie below U+10000: four hex digits.
      constexpr char hex[] = "0123456789abcdef";
      const char escaped[6] = {
          '\\', 'u', hex[(c.code >> 12) & 15], hex[(c.code >> 8) & 15], hex[(c.code >> 4) & 15], hex[c.code & 15]};
      put(escaped, 6);
    } else {
      put(text + at, c.length);
    }
    at += c.length;
  }
}
