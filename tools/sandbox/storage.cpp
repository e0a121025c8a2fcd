// Storage faults inside the sandbox.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sandbox.h"

namespace sandbox {

bool fill_file_system(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  static const char block[65536] = {};
  // Large writes first, then single bytes, until the last page is taken too.
  for (size_t size = sizeof block; size > 0; size /= 16) {
    for (;;) {
      const ssize_t n = write(fd, block, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
  }
  close(fd);
  return true;
}

}  // namespace sandbox
