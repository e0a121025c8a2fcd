#include "scan_int.h"

#include <climits>
#include <cstdlib>

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

bool parse_plain_int(const char* text, int* value) {
  const bool negative = text[0] == '-';
  const char* digits = negative ? text + 1 : text;
  if (digits[0] == '\0' || (digits[0] == '0' && digits[1] != '\0') || (negative && digits[0] == '0')) return false;
  long long v = 0;
  for (const char* c = digits; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || c - digits >= 10) return false;
    v = v * 10 + (*c - '0');
  }
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}
