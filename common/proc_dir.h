// Walks the entries of /proc without the heap: getdents64 into a stack buffer.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

// Calls visit(name) for every entry of the directory, in the order the kernel
// lists them. Returns the number of entries, or -1 when it cannot be opened.
template <class Visit>
long for_each_dir_entry(const char* path, Visit&& visit) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  alignas(8) char buffer[8192];
  long entries = 0;
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: u64 ino, s64 off, u16 reclen, u8 type, name.
      unsigned short reclen;
      memcpy(&reclen, buffer + at + 16, sizeof reclen);
      ++entries;
      visit(static_cast<const char*>(buffer + at + 19));
      at += reclen;
    }
  }
  close(fd);
  return entries;
}
