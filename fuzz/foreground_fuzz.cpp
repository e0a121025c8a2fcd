// The focused app's name from whatever the dumpsys pipeline prints.
#include <cctype>
#include <cstring>

#include "foreground.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = parts_of(data, size, 2);
  char name[foreground_name_size] = "previous.app";
  foreground_from_output(parts[0].c_str(), name);
  const size_t length = strlen(name);
  FUZZ_CHECK(length <= 127);
  // Empty or a package name: never a window title that could match other processes.
  FUZZ_CHECK(length == 0 || is_package_name(name));
  for (size_t i = 0; i < length; ++i) FUZZ_CHECK(!isspace(static_cast<unsigned char>(name[i])));
  // Output with no token keeps the old name.
  bool blank = true;
  for (char c : parts[0]) blank = blank && isspace(static_cast<unsigned char>(c));
  if (blank) FUZZ_CHECK(strcmp(name, "previous.app") == 0);
  return 0;
}
