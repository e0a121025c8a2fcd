#include "arguments.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "scan_int.h"
#include "status.h"

namespace {

bool refuse(char* error, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
bool refuse(char* error, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(error, size, format, args);
  va_end(args);
  return false;
}

}  // namespace

bool parse_recorder_arguments(int argc, const char* const* argv, recorder_options* out, char* error, size_t size) {
  recorder_options o;
  bool have_seconds = false, have_mode = false, have_record_option = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const struct {
      const char* name;
      vmktrace_mode mode;
    } modes[] = {{"--status", vmktrace_mode::status},
                 {"--live", vmktrace_mode::live},
                 {"--description", vmktrace_mode::description}};
    bool known = false;
    for (const auto& m : modes) {
      if (strcmp(a, m.name) != 0) continue;
      if (have_mode) return refuse(error, size, "%s: one of --status, --live and --description at a time", a);
      o.mode = m.mode;
      have_mode = known = true;
    }
    if (strcmp(a, "--json") == 0) {
      o.json = known = true;
    } else if (strcmp(a, "--since") == 0) {
      char line[128];
      if (i + 1 >= argc) return refuse(error, size, "%s needs the counters of an earlier status", a);
      if (!stat_line_from_counters(argv[i + 1], line, sizeof line))
        return refuse(error, size, "%s takes five whole numbers joined by commas, not \"%.40s\"", a, argv[i + 1]);
      o.since = argv[++i];
      known = true;
    } else if (strcmp(a, "--no-dumpsys") == 0) {
      o.dumpsys = false;
      known = true;
    } else if (strcmp(a, "--kernel-log") == 0) {
      if (i + 1 >= argc) return refuse(error, size, "%s needs a file", a);
      o.kernel_log = argv[++i];
      known = true;
    }
    const struct {
      const char* name;
      int* target;
      int low, high;
    } numbers[] = {{"--seconds", &o.seconds, 1, 86400},
                   {"--period-ms", &o.period_ms, 10, 60000},
                   {"--processes-every-ms", &o.processes_every_ms, 10, 3600000}};
    for (const auto& option : numbers) {
      if (strcmp(a, option.name) != 0) continue;
      known = true;
      if (i + 1 >= argc) return refuse(error, size, "%s needs a value", option.name);
      const char* value = argv[++i];
      if (!parse_plain_int(value, option.target) || *option.target < option.low || *option.target > option.high)
        return refuse(error, size, "%s takes a whole number from %i to %i, not \"%.40s\"", option.name, option.low,
                      option.high, value);
      if (option.target == &o.seconds)
        have_seconds = true;
      else
        have_record_option = true;
    }
    if (!known) return refuse(error, size, "unknown argument \"%.40s\"", a);
  }
  if (o.mode == vmktrace_mode::record) {
    if (o.json || o.kernel_log != nullptr)
      return refuse(error, size, "%s goes with --status, --live or --description", o.json ? "--json" : "--kernel-log");
    if (!o.dumpsys) return refuse(error, size, "%s goes with --status or --live", "--no-dumpsys");
    if (o.since != nullptr) return refuse(error, size, "%s goes with --status", "--since");
    if (!have_seconds) return refuse(error, size, "%s is required", "--seconds");
    if (o.processes_every_ms < o.period_ms)
      return refuse(error, size, "--processes-every-ms (%i) is shorter than --period-ms (%i)", o.processes_every_ms,
                    o.period_ms);
  } else {
    if (have_record_option) return refuse(error, size, "%s: the periods are a recording's", "--period-ms");
    if (have_seconds && o.mode != vmktrace_mode::live) return refuse(error, size, "%s goes with --live", "--seconds");
    if (o.since != nullptr && o.mode != vmktrace_mode::status)
      return refuse(error, size, "%s goes with --status", "--since");
    if ((o.json || !o.dumpsys) && o.mode == vmktrace_mode::description)
      return refuse(error, size, "%s goes with --status or --live", o.json ? "--json" : "--no-dumpsys");
  }
  *out = o;
  return true;
}
