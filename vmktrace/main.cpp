// vmktrace: records the load the daemons react to, as a trace on standard
// output. It only reads: it changes nothing on the system.
#include <unistd.h>

#include <cstring>

#include "arguments.h"
#include "recorder.h"

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
  return run_recorder(options);
}
