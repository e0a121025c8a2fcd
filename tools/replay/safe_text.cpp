#include "safe_text.h"

#include "json_text.h"
#include "shown_text.h"

namespace replay {

std::string shown(std::string_view text) {
  std::string out;
  shown_text_body(text.data(), text.size(), shown_form::bytes,
                  [&out](const char* data, size_t n) { out.append(data, n); });
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
  json_string_body(text.data(), text.size(), [&out](const char* data, size_t n) { out.append(data, n); });
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
