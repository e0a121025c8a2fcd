#include "priority_commands.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foreground.h"
#include "proc_dir.h"
#include "proc_path.h"
#include "process_identity.h"
#include "request.h"
#include "scan_int.h"
#include "value_file.h"

namespace {

void apply(int pid, int nice, int policy, int rt_priority) {
  const sched_param param = {rt_priority};
  sched_setscheduler(pid, policy, &param);
  setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice);
}

// The "%i" rule of the walks: init and the named entries are passed over.
int walk_pid(const char* entry) {
  int pid = 0;
  scan_int(entry, &pid);
  return pid;
}

}  // namespace

void reset_all_priorities() {
  for_each_dir_entry("/proc", [](const char* entry) {
    if (entry[0] < '0' || entry[0] > '9') return;
    const int pid = atoi(entry);
    if (pid == 0) return;
    char path[proc_path_size];
    if (access(proc_path(path, pid, "comm"), F_OK) != 0) return;
    char name[comm_text_size] = "";
    read_value(path, "%72s", name);
    const sched_param param = {0};
    sched_setscheduler(pid, SCHED_OTHER, &param);
    const bool kernel_ksmd = strcmp(name, "ksmd") == 0 && is_kernel_thread(pid);
    setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kernel_ksmd ? 4 : 0);
  });
}

void reset_kernel_thread_nice() {
  for_each_dir_entry("/proc", [](const char* entry) {
    const int pid = walk_pid(entry);
    if (pid < 2) return;
    char name[comm_text_size];
    char cmdline[cmdline_text_size];
    read_comm(name, pid);
    read_cmdline(cmdline, pid);
    // A program can empty its command line too, but not shed its program file.
    if (strcmp(cmdline, "(null)") == 0 && is_kernel_thread(pid)) setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 0);
  });
}

void set_priority_by_name(const char* name, int nice, int policy, int rt_priority) {
  const bool everyone = strcmp(name, "a") == 0;
  nice = clamp_nice(nice);
  for_each_dir_entry("/proc", [&](const char* entry) {
    const int pid = walk_pid(entry);
    if (pid < 2) return;
    char comm[comm_text_size];
    char cmdline[cmdline_text_size];
    read_comm(comm, pid);
    read_cmdline(cmdline, pid);
    if (everyone || strstr(comm, name) != nullptr || strstr(cmdline, name) != nullptr)
      apply(pid, nice, policy, rt_priority);
  });
}

void set_priority_of_foreground(int nice, int policy, int rt_priority) {
  read_foreground_app();
  nice = clamp_nice(nice);
  const long entries = for_each_dir_entry("/proc", [&](const char* entry) {
    const int pid = walk_pid(entry);
    if (pid < 2) return;
    char comm[comm_text_size];
    char cmdline[cmdline_text_size];
    read_comm(comm, pid);
    read_cmdline(cmdline, pid);
    if (is_foreground(comm) || is_foreground(cmdline)) apply(pid, nice, policy, rt_priority);
  });
  if (entries <= 0) return;
  puts(foreground_app);
}
