#include "stat_fields.h"

#include <cstdlib>
#include <cstring>

#include "proc_path.h"
#include "scan_int.h"
#include "value_file.h"

stat_fields parse_stat_fields(const char* text) {
  stat_fields f;
  const char* at = strrchr(text, ')');
  if (at == nullptr) return f;
  ++at;
  // After the name comes field 3, the state.
  for (int field = 3; field <= 41; ++field) {
    while (*at == ' ') ++at;
    if (*at == '\0') break;
    int* target = nullptr;
    switch (field) {
      case 3: f.state = *at; break;
      case 14: target = &f.utime; break;
      case 15: target = &f.stime; break;
      case 16: target = &f.cutime; break;
      case 17: target = &f.cstime; break;
      case 19: target = &f.nice; break;
      case 22: f.start_ticks = strtoull(at, nullptr, 10); break;
      case 41: target = &f.policy; break;
      default: break;
    }
    if (target != nullptr) scan_int(at, target);
    while (*at != ' ' && *at != '\0') ++at;
  }
  return f;
}

namespace {

bool read_stat_file(const char* path, stat_fields* out) {
  char text[1024];  // past field 41 even with every field at its longest
  if (read_text_file(path, text, sizeof text) < 0) return false;
  *out = parse_stat_fields(text);
  return true;
}

}  // namespace

bool read_stat_fields(int pid, stat_fields* out) {
  char path[proc_path_size];
  return read_stat_file(proc_path(path, pid, "stat"), out);
}

bool read_task_stat_fields(int pid, int tid, stat_fields* out) {
  char path[proc_path_size];
  return read_stat_file(task_path(path, pid, tid, "stat"), out);
}
