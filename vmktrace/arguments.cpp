#include "arguments.h"

#include <cstdio>
#include <cstring>

namespace {

// Whole decimal numbers only: "10s", "0x10" or "" would hide a mistake.
bool whole_number(const char* text, int* value) {
  if (*text == '\0') return false;
  long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
    if (v > 100000000) return false;
  }
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

bool parse_recorder_arguments(int argc, const char* const* argv, recorder_options* out, char* error, size_t size) {
  recorder_options o;
  bool have_seconds = false;
  for (int i = 1; i < argc; ++i) {
    const struct {
      const char* name;
      int* target;
      int low, high;
    } options[] = {{"--seconds", &o.seconds, 1, 86400},
                   {"--period-ms", &o.period_ms, 10, 60000},
                   {"--processes-every-ms", &o.processes_every_ms, 10, 3600000}};
    bool known = false;
    for (const auto& option : options) {
      if (strcmp(argv[i], option.name) != 0) continue;
      known = true;
      if (i + 1 >= argc) {
        snprintf(error, size, "%s needs a value", option.name);
        return false;
      }
      const char* value = argv[++i];
      if (!whole_number(value, option.target) || *option.target < option.low || *option.target > option.high) {
        snprintf(error, size, "%s takes a whole number from %i to %i, not \"%.40s\"", option.name, option.low,
                 option.high, value);
        return false;
      }
      if (option.target == &o.seconds) have_seconds = true;
    }
    if (!known) {
      snprintf(error, size, "unknown argument \"%.40s\"", argv[i]);
      return false;
    }
  }
  if (!have_seconds) {
    snprintf(error, size, "--seconds is required");
    return false;
  }
  if (o.processes_every_ms < o.period_ms) {
    snprintf(error, size, "--processes-every-ms (%i) is shorter than --period-ms (%i)", o.processes_every_ms,
             o.period_ms);
    return false;
  }
  *out = o;
  return true;
}
