#include "calm_log.h"

int log_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = write_log_line(calm_log, "[calm]: ", format, args);
  va_end(args);
  return result;
}

void logged_name(const char* name, char (&out)[logged_name_size]) {
  static constexpr char hex[] = "0123456789abcdef";
  int n = 0;
  for (const char* c = name; *c != '\0' && n + 4 < logged_name_size; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f || byte == '\\') {
      out[n++] = '\\';
      out[n++] = 'x';
      out[n++] = hex[byte >> 4];
      out[n++] = hex[byte & 15];
    } else {
      out[n++] = static_cast<char>(byte);
    }
  }
  out[n] = '\0';
}
