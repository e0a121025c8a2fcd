// vmktrace: records the load the daemons react to, as a trace on standard
// output, or tells what the daemons are doing now. It only reads: it changes
// nothing on the system.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "arguments.h"
#include "recorder.h"
#include "status_format.h"
#include "value_file.h"

namespace {

// One status, as text, JSON or the description line.
bool show_status(const recorder_options& o) {
  status_options what;
  what.kernel_log = o.kernel_log;
  // The description is asked for often, by the module's own watcher: no sample, no dumpsys.
  what.sample_load = o.mode != vmktrace_mode::description;
  what.ask_focus = what.sample_load && o.dumpsys;
  what.since = o.since;
  what.look_for_writers = what.sample_load;
  status_snapshot s;
  take_status(what, &s);
  // Twelve changes of names all escapes fit many times over.
  static char text[1 << 17];
  const int n = o.mode == vmktrace_mode::description ? format_description(s, text, sizeof text - 1)
                : o.json                             ? format_status_json(s, text, sizeof text)
                                                     : format_status_text(s, text, sizeof text);
  if (n < 0) return false;
  size_t length = static_cast<size_t>(n);
  if (o.mode == vmktrace_mode::description) text[length++] = '\n';
  return write_all(STDOUT_FILENO, text, length);
}

// The status every second, for --seconds or until stopped.
int live(const recorder_options& o) {
  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (int shown = 0; o.seconds == 0 || shown < o.seconds; ++shown) {
    if (!o.json && !write_all(STDOUT_FILENO, "\n", 1)) return 1;
    if (!show_status(o)) return 1;
    next.tv_sec += 1;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  recorder_options options;
  char error[160];
  if (!parse_recorder_arguments(argc, argv, &options, error, sizeof error)) {
    const char prefix[] = "vmktrace: ";
    if (write(STDERR_FILENO, prefix, sizeof prefix - 1) < 0 || write(STDERR_FILENO, error, strlen(error)) < 0 ||
        write(STDERR_FILENO, "\n", 1) < 0 || write(STDERR_FILENO, recorder_usage, strlen(recorder_usage)) < 0)
      return 1;
    return 1;
  }
  switch (options.mode) {
    case vmktrace_mode::record: return run_recorder(options);
    case vmktrace_mode::live: return live(options);
    case vmktrace_mode::status:
    case vmktrace_mode::description: return show_status(options) ? 0 : 1;
  }
  return 1;
}
