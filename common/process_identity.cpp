#include "process_identity.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "proc_path.h"
#include "value_file.h"

namespace {

constexpr char fallback_text[] = "(null)";

// At most size-1 bytes, terminated.
long read_proc_file(int pid, const char* leaf, char* buffer, size_t size) {
  char path[proc_path_size];
  return read_text_file(proc_path(path, pid, leaf), buffer, size);
}

}  // namespace

void comm_text_from(const char* bytes, long count, char* text) {
  if (count <= 0) {
    memcpy(text, fallback_text, sizeof fallback_text);
    return;
  }
  size_t length = static_cast<size_t>(count);
  if (bytes[length - 1] == '\n') --length;
  memcpy(text, bytes, length);
  text[length] = '\0';
}

void cmdline_text_from(char* bytes, long count, char* text) {
  if (count <= 0) {
    memcpy(text, fallback_text, sizeof fallback_text);
    return;
  }
  size_t length = static_cast<size_t>(count);
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] == '\0') bytes[i] = ' ';
  if (bytes[length - 1] == '\n') --length;
  memcpy(text, bytes, length);
  text[length] = '\0';
}

int ppid_from_status(char* bytes, long count) {
  if (count < 64) return 0;
  bytes[count] = '\0';
  const char* line = strstr(bytes, "PPid");
  if (line == nullptr) return 0;
  int ppid = 0;
  if (sscanf(line, "PPid: %i", &ppid) != 1) return 0;
  return ppid;
}

int read_comm(char* text, int pid) {
  char bytes[comm_text_size];
  const long count = read_proc_file(pid, "comm", bytes, sizeof bytes);
  comm_text_from(bytes, count, text);
  return static_cast<int>(count);
}

int read_cmdline(char* text, int pid) {
  char bytes[cmdline_text_size];
  const long count = read_proc_file(pid, "cmdline", bytes, sizeof bytes);
  cmdline_text_from(bytes, count, text);
  return static_cast<int>(count);
}

bool is_kernel_thread(int pid) {
  char path[proc_path_size];
  return access(proc_path(path, pid, "exe"), F_OK) != 0;
}

int read_ppid(int pid) {
  char bytes[129];
  const long count = read_proc_file(pid, "status", bytes, sizeof bytes);
  return ppid_from_status(bytes, count);
}
