// calmd's log lines as the status command reads them from a kernel log:
// names in them are the apps' own.
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = as_text(data, size);
  calm_line line;
  if (parse_calm_line(text.c_str(), &line)) {
    // Taken only as calmd writes it.
    char again[1024];
    FUZZ_CHECK(format_calm_line(line, again, sizeof again) > 0 && text == again);
  }
  status_snapshot s;
  calm_log_reader reader(1e6, &s);
  std::string copy = text;
  for (size_t at = 0; at <= copy.size();) {
    const size_t end = std::min(copy.find('\n', at), copy.size());
    std::string one = copy.substr(at, end - at);
    reader.add_line(one.data());
    at = end + 1;
  }
  FUZZ_CHECK(s.change_count >= 0 && s.change_count <= max_changes);
  for (int i = 0; i < s.change_count; ++i) FUZZ_CHECK(strlen(s.changes[i].line.name) < logged_name_size);
  return 0;
}
