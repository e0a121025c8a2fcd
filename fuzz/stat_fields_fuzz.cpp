// The stat fields found are the same whatever the name in parentheses holds.
#include "fuzz_input.h"
#include "stat_fields.h"

namespace {

// Field by field: the struct's padding is no field.
bool same(const stat_fields& a, const stat_fields& b) {
  return a.state == b.state && a.utime == b.utime && a.stime == b.stime && a.cutime == b.cutime &&
         a.cstime == b.cstime && a.nice == b.nice && a.start_ticks == b.start_ticks && a.policy == b.policy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = parts_of(data, size, 2);
  const std::string& name = parts[0];
  const std::string tail = ") S 1 77 77 0 -1 4194560 100 0 0 0 11 22 33 44 20 -7 1 0 100 0 0\n";
  const stat_fields plain = parse_stat_fields(("77 (x" + tail).c_str());
  const stat_fields hostile = parse_stat_fields(("77 (" + name + tail).c_str());
  FUZZ_CHECK(same(plain, hostile));
  // Any other text parses without harm, and a line without ")" gives zeros.
  const stat_fields any = parse_stat_fields(parts[1].c_str());
  if (parts[1].find(')') == std::string::npos) FUZZ_CHECK(any.nice == 0 && any.utime == 0);
  return 0;
}
