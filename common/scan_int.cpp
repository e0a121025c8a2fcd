#include "scan_int.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool scan_int(const char* text, int* value) {
  // Most texts are plain decimal numbers (pids, tick counts) or a lone 0:
  // read them without strtol, as long as no digit can overflow.
  if (text[0] == '0' && (text[1] < '0' || text[1] > '9') && text[1] != 'x' && text[1] != 'X') {
    *value = 0;
    return true;
  }
  if (*text >= '1' && *text <= '9') {
    unsigned long digits_value = 0;
    int digits = 0;
    const char* at = text;
    for (; *at >= '0' && *at <= '9' && digits < 18; ++at, ++digits)
      digits_value = digits_value * 10 + static_cast<unsigned long>(*at - '0');
    if (*at < '0' || *at > '9') {
      *value = static_cast<int>(digits_value);
      return true;
    }
  }
  char* end = nullptr;
  const long parsed = strtol(text, &end, 0);
  if (end == text) return false;
  *value = static_cast<int>(static_cast<unsigned long>(parsed));
  return true;
}

bool parse_plain_unsigned(const char* text, size_t length, unsigned long long* value) {
  if (length == 0 || length > 20 || (length > 1 && text[0] == '0')) return false;
  unsigned long long v = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    const unsigned long long digit = static_cast<unsigned long long>(c - '0');
    if (v > (~0ull - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

bool parse_plain_signed(const char* text, size_t length, long long low, long long high, long long* value) {
  const bool negative = length > 0 && text[0] == '-';
  unsigned long long magnitude = 0;
  if (!parse_plain_unsigned(negative ? text + 1 : text, negative ? length - 1 : length, &magnitude)) return false;
  if (magnitude > (1ull << 62) || (negative && magnitude == 0)) return false;
  const long long v = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

bool parse_plain_int(const char* text, int* value) {
  long long v = 0;
  if (!parse_plain_signed(text, strlen(text), INT_MIN, INT_MAX, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}
