#include "scan_int.h"

#include <cstdlib>

bool scan_int(const char* text, int* value) {
  char* end = nullptr;
  const long parsed = strtol(text, &end, 0);
  if (end == text) return false;
  *value = static_cast<int>(static_cast<unsigned long>(parsed));
  return true;
}
