#include "safe_text.h"

#include <cstdio>

namespace replay {
namespace {

// The code point at text[at] and its length in bytes; length 0 when the
// bytes there are no UTF-8 (overlong, surrogate, past U+10FFFF, cut short).
struct character {
  char32_t code;
  size_t length;
};

character decode(std::string_view text, size_t at) {
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
  if (at + length > text.size()) return {0, 0};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return {0, 0};
    code = (code << 6) | (byte(at + i) & 0x3f);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return {0, 0};
  return {code, length};
}

// Characters that move or hide what a terminal or a browser shows.
bool is_control(char32_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x200e || c == 0x200f || (c >= 0x2028 && c <= 0x202e) ||
         (c >= 0x2066 && c <= 0x2069);
}

// "\xHH" for a byte, "\uHHHH" for a JSON character.
void append_hex(std::string& out, char kind, unsigned value) {
  char code[16];
  if (kind == 'x')
    snprintf(code, sizeof code, "\\x%02x", value);
  else
    snprintf(code, sizeof code, "\\u%04x", value);
  out += code;
}

}  // namespace

std::string shown(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const character c = decode(text, at);
    const size_t length = c.length == 0 ? 1 : c.length;
    if (c.length == 0 || is_control(c.code) || c.code == '\\') {
      if (c.code == '\\' || c.code == '\n' || c.code == '\t' || c.code == '\r') {
        out += c.code == '\\' ? "\\\\" : c.code == '\n' ? "\\n" : c.code == '\t' ? "\\t" : "\\r";
      } else {
        for (size_t i = 0; i < length; ++i) append_hex(out, 'x', static_cast<unsigned char>(text[at + i]));
      }
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string shown(std::string_view text, size_t width) {
  std::string out = shown(text);
  if (out.size() <= width) return out;
  size_t cut = width;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xc0) == 0x80) --cut;
  out.resize(cut);
  return out;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const character c = decode(text, at);
    if (c.length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (c.code == '"' || c.code == '\\') {
      out += '\\';
      out += static_cast<char>(c.code);
    } else if (is_control(c.code) || c.code == '<' || c.code == '>' || c.code == '&') {
      append_hex(out, 'u', static_cast<unsigned>(c.code));
    } else {
      out.append(text.substr(at, c.length));
    }
    at += c.length;
  }
  return out + "\"";
}

std::string gnuplot_title(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view(" .,:_/+=()-").find(c) != std::string_view::npos;
    out += kept ? c : '?';
  }
  return out;
}

std::string folder_name(std::string_view file_name) {
  std::string out;
  for (char c : file_name.substr(0, 100)) {
    const bool kept =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    out += kept ? c : '_';
  }
  if (!out.empty() && out[0] == '.') out[0] = '_';
  return out.empty() ? "trace" : out;
}

}  // namespace replay
