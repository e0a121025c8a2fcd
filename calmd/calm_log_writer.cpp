#include "calm_log_writer.h"

int log_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = write_log_line(calm_log, calm_tag, format, args);
  va_end(args);
  return result;
}

void log_calm_line(const calm_line& line) {
  char text[1024];
  format_calm_line(line, text, sizeof text);
  // The text is an argument, not the format: a marker in a name redirects nothing.
  log_line("%s", text);
}
