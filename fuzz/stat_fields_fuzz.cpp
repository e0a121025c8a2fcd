// The stat fields found are the same whatever the name in parentheses holds.
#include <cstring>

#include "fuzz_input.h"
#include "stat_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = parts_of(data, size, 2);
  const std::string& name = parts[0];
  const std::string tail = ") S 1 77 77 0 -1 4194560 100 0 0 0 11 22 33 44 20 -7 1 0 100 0 0\n";
  const stat_fields plain = parse_stat_fields(("77 (x" + tail).c_str());
  const stat_fields hostile = parse_stat_fields(("77 (" + name + tail).c_str());
  FUZZ_CHECK(memcmp(&plain, &hostile, sizeof plain) == 0);
  // Any other text parses without harm, and a line without ")" gives zeros.
  const stat_fields any = parse_stat_fields(parts[1].c_str());
  if (parts[1].find(')') == std::string::npos) FUZZ_CHECK(any.nice == 0 && any.utime == 0);
  return 0;
}
