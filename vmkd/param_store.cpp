#include "param_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

// The key with a leading dot and the writer's pid: ".cur_profile.1234.new".
constexpr int temp_name_size = 64;

int create_temp(int dir_fd, const char* name) {
  return openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// A reader sees the old text or the whole new one, never an empty or cut
// file: the text goes into a new file beside the key, which then takes the
// key's place (a link or a hard link there is replaced, not written through).
// When anything fails nothing is left, so the next use creates the file
// again. A file made once is flushed first: a power cut must not leave it empty.
void write_param_at(int dir_fd, const char* key, int value, bool durable) {
  char temp[temp_name_size];
  if (snprintf(temp, sizeof temp, ".%s.%i.new", key, static_cast<int>(getpid())) >= temp_name_size) return;
  int fd = create_temp(dir_fd, temp);
  if (fd < 0 && errno == EEXIST) {
    // Left by an ended process with this pid, or planted: the name is ours.
    unlinkat(dir_fd, temp, 0);
    fd = create_temp(dir_fd, temp);
  }
  if (fd < 0) return;
  char text[16];
  const int length = snprintf(text, sizeof text, "%i\n", value);
  bool written = write(fd, text, static_cast<size_t>(length)) == length;
  fchmod(fd, 0777);
  if (written && durable) written = fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || renameat(dir_fd, temp, dir_fd, key) != 0) unlinkat(dir_fd, temp, 0);
}

// Told by lstat alone: nothing there is opened (a FIFO would block) or followed.
param_obstacle obstacle_at(int dir_fd, const char* key) {
  struct stat st;
  if (fstatat(dir_fd, key, &st, AT_SYMLINK_NOFOLLOW) != 0) return param_obstacle::none;
  switch (st.st_mode & S_IFMT) {
    case S_IFREG: return param_obstacle::none;
    case S_IFDIR: return param_obstacle::folder;
    case S_IFIFO: return param_obstacle::fifo;
    case S_IFSOCK: return param_obstacle::socket;
    case S_IFCHR:
    case S_IFBLK: return param_obstacle::device;
    case S_IFLNK: return param_obstacle::link;
    default: return param_obstacle::other;
  }
}

// The number in the key's file, if it opens and holds one; value untouched otherwise.
bool scan_param_at(int dir_fd, const char* key, int* value) {
  const int fd = open_shared_file(dir_fd, key, O_RDONLY);
  if (fd < 0) return false;
  const bool read = scan_fd_f(fd, "%i\n", value) == 1;
  close(fd);
  return read;
}

}  // namespace

int read_param_in(const char* dir, const char* key, int default_value) {
  int result = 0;
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return default_value;
  if (!exists_in(dir_fd, key)) {
    write_param_at(dir_fd, key, default_value, true);
    close(dir_fd);
    return default_value;
  }
  scan_param_at(dir_fd, key, &result);
  close(dir_fd);
  return result;
}

void write_param_in(const char* dir, const char* key, int value) {
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return;
  write_param_at(dir_fd, key, value, false);
  close(dir_fd);
}

param_obstacle write_param_over_file_in(const char* dir, const char* key, int value) {
  const int dir_fd = open_param_dir(dir);
  if (dir_fd < 0) return param_obstacle::none;
  param_obstacle obstacle = obstacle_at(dir_fd, key);
  if (obstacle == param_obstacle::folder) {
    if (unlinkat(dir_fd, key, AT_REMOVEDIR) == 0)
      obstacle = param_obstacle::none;
    else if (errno == ENOTEMPTY || errno == EEXIST)
      obstacle = param_obstacle::full_folder;
  }
  if (obstacle == param_obstacle::none) {
    write_param_at(dir_fd, key, value, false);
    // A folder put there since keeps the rename out: say so.
    obstacle = obstacle_at(dir_fd, key);
  }
  close(dir_fd);
  return obstacle;
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
param_obstacle write_param_over_file(const char* key, int value) {
  return write_param_over_file_in(param_dir, key, value);
}
bool remove_param(const char* key) { return remove_param_in(param_dir, key); }

bool stored_param(const char* key, int* value) {
  const int dir_fd = open(param_dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir_fd < 0) return false;
  const bool read = scan_param_at(dir_fd, key, value);
  close(dir_fd);
  return read;
}
