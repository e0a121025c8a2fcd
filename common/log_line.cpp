#include "log_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "value_file.h"

int write_log_line(const log_destinations& where, const char* tag, const char* format, va_list args) {
  char line[1024];
  const size_t tag_length = strnlen(tag, sizeof line / 2);
  memcpy(line, tag, tag_length);
  // Room is kept for the newline.
  const size_t room = sizeof line - tag_length - 1;
  const int produced = vsnprintf(line + tag_length, room, format, args);
  size_t length = tag_length;
  if (produced > 0) length += static_cast<size_t>(produced) < room ? static_cast<size_t>(produced) : room - 1;
  line[length++] = '\n';

  int fd;
  if (strstr(format, "[f]") != nullptr) {
    fd = open_shared_file(AT_FDCWD, where.log_file, O_WRONLY | O_CREAT | O_APPEND);
  } else {
    fd = open(where.kernel_log, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) return -1;
  const bool written = write_all(fd, line, length);
  const int closed = close(fd);
  return written && closed == 0 ? 0 : -1;
}
