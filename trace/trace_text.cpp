#include "trace_text.h"

#include <cstring>

namespace trace {
namespace {

// Bytes the writer never leaves as they are.
bool needs_escape(unsigned char c) { return c < 0x20 || c == 0x7f || c == '\\'; }

}  // namespace

bool to_int(field f, int low, int high, int* value) {
  long long v = 0;
  if (!to_signed(f, low, high, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

void line_writer::put(const char* text) { put(text, strlen(text)); }

void line_writer::put_unsigned(unsigned long long value) {
  char digits[24];
  int n = 0;
  do digits[n++] = static_cast<char>('0' + value % 10);
  while ((value /= 10) > 0);
  while (n > 0) put_char(digits[--n]);
}

void line_writer::put_signed(long long value) {
  if (value < 0) {
    put_char('-');
    put_unsigned(0ull - static_cast<unsigned long long>(value));
  } else {
    put_unsigned(static_cast<unsigned long long>(value));
  }
}

bool line_writer::put_escaped(const char* text) {
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '\\': put("\\\\"); break;
      case '\t': put("\\t"); break;
      case '\n': put("\\n"); break;
      case '\r': put("\\r"); break;
      default:
        if (needs_escape(c)) {
          const char hex[] = "0123456789abcdef";
          const char code[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
          put(code, 4);
        } else {
          put_char(static_cast<char>(c));
        }
    }
  }
  return at < size;
}

bool escape_text(const char* text, char* out, size_t size) {
  line_writer w{{out, size}};
  w.put_escaped(text);
  return w.finish() >= 0;
}

bool unescape_text(const char* field_text, size_t length, char* out, size_t size) {
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = field_text[i];
    // Only the writer's own form is read, so that a text has one spelling.
    if (c != '\\' && needs_escape(static_cast<unsigned char>(c))) return false;
    if (c == '\\') {
      if (++i >= length) return false;
      switch (field_text[i]) {
        case '\\': c = '\\'; break;
        case 't': c = '\t'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 'x': {
          if (i + 2 >= length) return false;
          int value = 0;
          for (int k = 1; k <= 2; ++k) {
            const char h = field_text[i + static_cast<size_t>(k)];
            const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
          }
          const unsigned char byte = static_cast<unsigned char>(value);
          if (value == 0 || !needs_escape(byte) || byte == '\\' || byte == '\t' || byte == '\n' || byte == '\r')
            return false;
          c = static_cast<char>(value);
          i += 2;
          break;
        }
        default: return false;
      }
    }
    if (n + 1 >= size) return false;
    out[n++] = c;
  }
  out[n] = '\0';
  return true;
}

}  // namespace trace
