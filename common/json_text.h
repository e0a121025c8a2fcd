// Texts that apps chose (process names, titles), put into JSON so that they
// stay one string of text in any reader: a browser's, jq, Perfetto's, and a
// root manager's bridge to the module's page.
//
// The rule: what this writes is printable ASCII alone, and holds no '%'.
// KernelSU and APatch hand a command's output to the page inside a
// javascript: URL, quoted with Android's JSONObject.quote, which escapes
// quotes, backslash, '/' and C0 controls but not '%'; the browser
// percent-decodes that URL before it runs it, so "%22" in an app's name would
// close the string and run the rest as script in a page that holds root. The
// URL parser also drops tabs and newlines and re-encodes everything past
// ASCII. So every character outside ' '..'~', and '%', '<', '>', '&', becomes
// a \u escape (a surrogate pair above U+FFFF); quote and backslash get their
// backslash; a byte that is no UTF-8 becomes \ufffd.
#pragma once

#include <cstddef>

#include "utf8.h"

template <class Put>
void json_string_body(const char* text, size_t size, Put&& put) {
  const auto put_unit = [&put](char32_t unit) {
    constexpr char hex[] = "0123456789abcdef";
    const char escaped[6] = {'\\',          'u', hex[(unit >> 12) & 15], hex[(unit >> 8) & 15], hex[(unit >> 4) & 15],
                             hex[unit & 15]};
    put(escaped, 6);
  };
  for (size_t at = 0; at < size;) {
    const utf8_character c = decode_utf8(text, size, at);
    if (c.length == 0) {
      put_unit(0xfffd);
      ++at;
      continue;
    }
    if (c.code == '"' || c.code == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c.code)};
      put(escaped, 2);
    } else if (c.code < 0x20 || c.code > 0x7e || c.code == '%' || c.code == '<' || c.code == '>' || c.code == '&') {
      if (c.code > 0xffff) {
        const char32_t v = c.code - 0x10000;
        put_unit(0xd800 + (v >> 10));
        put_unit(0xdc00 + (v & 0x3ff));
      } else {
        put_unit(c.code);
      }
    } else {
      put(text + at, 1);
    }
    at += c.length;
  }
}
