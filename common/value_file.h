// One short formatted value per file: kernel tunables, parameter files, the log.
#pragma once

#include <cstdarg>

// Values are short; this bounds one transfer.
inline constexpr int value_text_size = 1024;

// scanf over the file's text; -1 when it cannot be opened or is empty.
// Outputs are left untouched unless a conversion stores into them.
int read_value(const char* path, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// The text read_value scans, read the same way (reads until the end, at most
// value_text_size-1 bytes), for callers that read now and scan later.
struct value_text {
  bool opened = false;
  char text[value_text_size] = "";
};
void read_value_text(const char* path, value_text* out);

// printf into the file (created, truncated); -1 when it cannot be opened,
// else the length the formatting produced. Kernel refusals are not reported.
int write_value(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

// One read of at most size-1 bytes of a small file (a procfs file), then a
// terminator after what was read. The read's count, or -1 when the file
// cannot be opened.
long read_text_file(const char* path, char* text, unsigned long size);

// Descriptor-level halves of the two above, for callers that open files themselves.
int scan_fd_f(int fd, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int print_fd_f(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Opens a file in storage that apps can write: never through a symbolic link,
// never blocking on a FIFO, and only if it is a regular file with no other
// name (a hard link's other name may be any file of the same storage); O_TRUNC
// acts only then. -1 otherwise.
int open_shared_file(int dir_fd, const char* name, int flags, int mode = 0666);

// Writes all the bytes, again after an interruption; false on an error.
bool write_all(int fd, const char* data, unsigned long length);
