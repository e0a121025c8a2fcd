// One character of UTF-8 text, for those who show texts that apps chose.
#pragma once

#include <cstddef>

struct utf8_character {
  char32_t code;
  size_t length;  // 0: the bytes there are no UTF-8 (overlong, a surrogate, past U+10FFFF, cut short)
};

inline utf8_character decode_utf8(const char* text, size_t size, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  if (first < 0x80) return {first, 1};
  size_t length;
  char32_t code, least;
  if ((first & 0xe0) == 0xc0) {
    length = 2, code = first & 0x1f, least = 0x80;
  } else if ((first & 0xf0) == 0xe0) {
    length = 3, code = first & 0x0f, least = 0x800;
  } else if ((first & 0xf8) == 0xf0) {
    length = 4, code = first & 0x07, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (at + length > size) return {0, 0};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return {0, 0};
    code = (code << 6) | (byte(at + i) & 0x3f);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return {0, 0};
  return {code, length};
}

// Unicode's Bidi_Control property (PropList.txt): the characters that
// reorder the text around them. A unit test checks the table against the
// Unicode data files.
struct code_range {
  char32_t first, last;
};
inline constexpr code_range bidi_controls[] = {{0x061c, 0x061c}, {0x200e, 0x200f}, {0x202a, 0x202e}, {0x2066, 0x2069}};

inline constexpr bool is_bidi_control(char32_t c) {
  for (const code_range& r : bidi_controls)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

// Characters that move or hide what a terminal or a browser shows: C0 and C1
// controls, the line and paragraph separators, the bidirectional controls.
inline constexpr bool is_control_character(char32_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || is_bidi_control(c);
}
