// Helpers for the fuzz targets: the input as text, split into parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The input up to its first NUL, as the C string a parser would get.
inline std::string as_text(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

// The input split at each byte 0xff, for targets that take several texts.
inline std::vector<std::string> parts_of(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xff && parts.size() < count)
      parts.emplace_back();
    else if (data[i] != 0)
      parts.back() += static_cast<char>(data[i]);
  }
  parts.resize(count);
  return parts;
}

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      __builtin_printf("property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                                  \
    }                                                                                    \
  } while (0)
