#include "kernel_text.h"

#include <cstring>

namespace trace {

bool parse_proc_stat(const char* text, unsigned long long (&cpu)[cpu_counter_count], unsigned long long* ctxt,
                     int* cpus, int* ctxt_at) {
  if (strncmp(text, "cpu ", 4) != 0) return false;
  const char* p = text + 4;
  for (int i = 0; i < cpu_counter_count; ++i) {
    while (*p == ' ') ++p;
    unsigned long long v = 0;
    const char* start = p;
    while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<unsigned long long>(*p++ - '0');
    cpu[i] = p > start ? v : 0;
  }
  *cpus = 0;
  *ctxt = 0;
  *ctxt_at = 0;
  for (const char* line = text; line != nullptr && *line; line = strchr(line, '\n')) {
    if (*line == '\n') ++line;
    if (strncmp(line, "cpu", 3) == 0 && line[3] >= '0' && line[3] <= '9') ++*cpus;
    if (strncmp(line, "ctxt ", 5) == 0) {
      *ctxt_at = static_cast<int>(line - text);
      unsigned long long v = 0;
      for (const char* d = line + 5; *d >= '0' && *d <= '9'; ++d)
        v = v * 10 + static_cast<unsigned long long>(*d - '0');
      *ctxt = v;
    }
  }
  return true;
}

}  // namespace trace
