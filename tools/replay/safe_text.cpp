#include "safe_text.h"

#include <cstdio>

#include "utf8.h"

namespace replay {
namespace {

utf8_character decode(std::string_view text, size_t at) { return decode_utf8(text.data(), text.size(), at); }
bool is_control(char32_t c) { return is_control_character(c); }

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
    const utf8_character c = decode(text, at);
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
    const utf8_character c = decode(text, at);
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
