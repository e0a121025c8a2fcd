#include "value_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int scan_fd(int fd, const char* format, va_list args) __attribute__((format(scanf, 2, 0)));
int print_fd(int fd, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

}  // namespace

bool write_all(int fd, const char* data, unsigned long length) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

// Reads until the end or until the buffer is full, then terminates.
void read_fd_text(int fd, char (&text)[value_text_size]) {
  size_t length = 0;
  while (length < sizeof text - 1) {
    const ssize_t n = read(fd, text + length, sizeof text - 1 - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length += static_cast<size_t>(n);
  }
  text[length] = '\0';
}

int scan_fd(int fd, const char* format, va_list args) {
  char text[value_text_size];
  read_fd_text(fd, text);
  return vsscanf(text, format, args);
}

int print_fd(int fd, const char* format, va_list args) {
  // A format without conversions ("0", "NO_NEXT_BUDDY\n") is its own text.
  if (strchr(format, '%') == nullptr) {
    const size_t length = strlen(format);
    write_all(fd, format, length);
    return static_cast<int>(length);
  }
  char text[value_text_size];
  const int produced = vsnprintf(text, sizeof text, format, args);
  if (produced < 0) return produced;
  const size_t length = produced < value_text_size ? static_cast<size_t>(produced) : sizeof text - 1;
  write_all(fd, text, length);
  return produced;
}

}  // namespace

int scan_fd_f(int fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = scan_fd(fd, format, args);
  va_end(args);
  return result;
}

int print_fd_f(int fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = print_fd(fd, format, args);
  va_end(args);
  return result;
}

long read_text_file(const char* path, char* text, unsigned long size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t n = read(fd, text, size - 1);
  close(fd);
  text[n > 0 ? n : 0] = '\0';
  return n;
}

void read_value_text(const char* path, value_text* out) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  out->opened = fd >= 0;
  out->text[0] = '\0';
  if (fd < 0) return;
  read_fd_text(fd, out->text);
  close(fd);
}

int read_value(const char* path, const char* format, ...) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  va_list args;
  va_start(args, format);
  const int result = scan_fd(fd, format, args);
  va_end(args);
  close(fd);
  return result;
}

int write_value(const char* path, const char* format, ...) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  va_list args;
  va_start(args, format);
  const int result = print_fd(fd, format, args);
  va_end(args);
  close(fd);
  return result;
}

int open_shared_file(int dir_fd, const char* name, int flags, int mode) {
  // Truncated only once it is known to be a file of its own.
  const int fd = openat(dir_fd, name, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      ((flags & O_TRUNC) != 0 && ftruncate(fd, 0) != 0)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}
