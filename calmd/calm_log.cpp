#include "calm_log.h"

int log_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = write_log_line(calm_log, "[calm]: ", format, args);
  va_end(args);
  return result;
}
