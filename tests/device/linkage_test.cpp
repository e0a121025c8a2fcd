// The daemons and the recorder must run on a phone with nothing but its C library.
#include <cstdio>
#include <string>

#include "device_support.h"

namespace {

std::string needed_libraries(const std::string& binary) {
  std::string out;
  FILE* p = popen(("readelf -d '" + binary + "' 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char line[512];
  while (fgets(line, sizeof line, p) != nullptr) {
    const std::string l = line;
    if (l.find("(NEEDED)") == std::string::npos) continue;
    const size_t open = l.find('['), close = l.find(']');
    out += l.substr(open + 1, close - open - 1) + " ";
  }
  pclose(p);
  return out;
}

TEST(Linkage, ProgramsNeedOnlyTheCLibrary) {
  if (VMK_SANITIZED) GTEST_SKIP() << "sanitizer builds link their runtime";
  for (const std::string& binary : {vmkd_binary, calmd_binary, vmktrace_binary, vmkctl_binary}) {
    const std::string needed = needed_libraries(binary);
    EXPECT_TRUE(needed.empty() || needed == "libc.so.6 ") << binary << " needs: " << needed;
  }
}

}  // namespace
