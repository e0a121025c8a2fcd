#include "param_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "value_file.h"

namespace {

// Apps can write the folder, so nothing in it is followed through a link:
// the folder is opened without following, and files are reached from it.
int open_param_dir(const char* dir) {
  if (access(dir, F_OK) != 0) {
    mkdir(dir, 0777);
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Apps must be able to reach the files: the umask must not narrow it.
    if (fd >= 0) fchmod(fd, 0777);
    return fd;
  }
  return open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool exists_in(int dir_fd, const char* key) {
  struct stat st;
  return fstatat(dir_fd, key, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void write_param_at(int dir_fd, const char* key, int value) {
  const int fd = open_shared_file(dir_fd, key, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return;
  print_fd_f(fd, "%i\n", value);
  fchmod(fd, 0777);
  close(fd);
}

}  // namespace

int read_param_in(const char* dir, const char* key, int default_value) {
  int result = 0;
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return default_value;
  if (!exists_in(dir_fd, key)) {
    write_param_at(dir_fd, key, default_value);
    close(dir_fd);
    return default_value;
  }
  const int fd = open_shared_file(dir_fd, key, O_RDONLY);
  if (fd >= 0) {
    scan_fd_f(fd, "%i\n", &result);
    close(fd);
  }
  close(dir_fd);
  return result;
}

void write_param_in(const char* dir, const char* key, int value) {
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return;
  write_param_at(dir_fd, key, value);
  close(dir_fd);
}

bool remove_param_in(const char* dir, const char* key) {
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return false;
  bool removed = true;
  if (exists_in(dir_fd, key)) removed = unlinkat(dir_fd, key, 0) == 0;
  close(dir_fd);
  return removed;
}

int read_param(const char* key, int default_value) { return read_param_in(param_dir, key, default_value); }
void write_param(const char* key, int value) { write_param_in(param_dir, key, value); }
bool remove_param(const char* key) { return remove_param_in(param_dir, key); }
