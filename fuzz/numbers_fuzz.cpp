// The "%i" reader agrees with scanf, and the command line's numbers are always bounded.
#include <cstdio>

#include "fuzz_input.h"
#include "request.h"
#include "scan_int.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = parts_of(data, size, 4);

  int fast = 12345, slow = 12345;
  const bool parsed = scan_int(parts[0].c_str(), &fast);
  const int converted = sscanf(parts[0].c_str(), "%i", &slow);
  // scanf also takes a bare "0x" (as 0), where strtol stops after the "0": same value either way.
  if (converted == 1) FUZZ_CHECK(parsed && fast == slow);
  if (!parsed) FUZZ_CHECK(fast == 12345);

  for (const bool foreground : {false, true}) {
    priority_request r;
    if (!make_request(parts[1].c_str(), parts[2].c_str(), parts[3].c_str(), foreground, &r)) continue;
    FUZZ_CHECK(r.nice >= -20 && r.nice <= 19);
    FUZZ_CHECK(r.policy == 0 || r.policy == 1 || r.policy == 2 || r.policy == 3 || r.policy == 5);
    FUZZ_CHECK(r.rt_priority >= 0 && r.rt_priority <= 100);
    if (r.policy == 0 || r.policy == 3 || r.policy == 5) FUZZ_CHECK(r.rt_priority == 0);
    if (r.policy == 3 || r.policy == 5 || (foreground && r.policy != 0)) FUZZ_CHECK(r.nice == 0);
  }
  return 0;
}
