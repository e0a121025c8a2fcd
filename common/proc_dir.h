// Walks over /proc without the heap: getdents64 into a stack buffer.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "proc_path.h"
#include "process_identity.h"
#include "scan_int.h"

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

// Where a walk over the processes starts: init (pid 1) is left alone by
// everything but a full reset, which takes it too.
inline constexpr int from_init = 1;
inline constexpr int after_init = 2;

// Calls visit(pid) for every process of /proc with a pid of first_pid or
// more. Returns the number of entries, or -1 when /proc cannot be listed.
template <class Visit>
long for_each_pid(int first_pid, Visit&& visit) {
  return for_each_dir_entry("/proc", [&](const char* entry) {
    int pid = 0;  // stays 0 for the named entries (self, stat...)
    scan_int(entry, &pid);
    if (pid >= first_pid) visit(pid);
  });
}

// Calls visit(tid) for every thread of the process, the main thread too.
// Returns the number of entries, or -1 when the process is gone.
template <class Visit>
long for_each_thread(int pid, Visit&& visit) {
  char path[proc_path_size];
  return for_each_dir_entry(proc_path(path, pid, "task"), [&](const char* entry) {
    int tid = 0;  // stays 0 for "." and ".."
    scan_int(entry, &tid);
    if (tid > 0) visit(tid);
  });
}

// What a walk reads of each process, afresh.
struct process_texts {
  char name[comm_text_size];
  char cmdline[cmdline_text_size];
  int cmdline_bytes;  // 0 or less: nothing read ("(null)"), as for a kernel thread
};

// The same, with the process's name and command line read first (in that
// order) and handed over as visit(pid, texts).
template <class Visit>
long for_each_process(int first_pid, Visit&& visit) {
  return for_each_pid(first_pid, [&](int pid) {
    process_texts texts;
    read_comm(texts.name, pid);
    texts.cmdline_bytes = read_cmdline(texts.cmdline, pid);
    visit(pid, static_cast<const process_texts&>(texts));
  });
}
