#include "priority_commands.h"

#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "foreground.h"
#include "proc_dir.h"
#include "proc_path.h"
#include "process_identity.h"
#include "scheduling.h"
#include "thread_step.h"
#include "throttle_rules.h"
#include "value_file.h"

namespace {

void apply(int pid, int nice, int policy, int rt_priority) {
  change_process(pid, policy_then_nice(policy, rt_priority, nice));
}

}  // namespace

void reset_all_priorities() {
  // A full reset: init too.
  for_each_pid(from_init, [](int pid) {
    char path[proc_path_size];
    if (access(proc_path(path, pid, "comm"), F_OK) != 0) return;
    char name[comm_text_size] = "";
    read_value(path, "%72s", name);
    // The name alone would let any program pass for ksmd.
    const bool ksmd = strcmp(name, ksmd_name) == 0 && is_kernel_thread(pid);
    change_process(pid, policy_then_nice(SCHED_OTHER, 0, ksmd ? ksmd_nice : 0));
  });
}

// A kernel thread is a process of one thread: the main thread alone is all of it.
void reset_kernel_thread_nice() {
  for_each_process(after_init, [](int pid, const process_texts& t) {
    // A program can empty its command line too, but not shed its program file.
    if (t.cmdline_bytes <= 0 && is_kernel_thread(pid)) set_nice(pid, 0);
  });
}

void set_priority_by_name(const char* name, int nice, int policy, int rt_priority) {
  const bool everyone = strcmp(name, "a") == 0;
  nice = clamp_nice(nice);
  for_each_process(after_init, [&](int pid, const process_texts& t) {
    if (everyone || strstr(t.name, name) != nullptr || strstr(t.cmdline, name) != nullptr)
      apply(pid, nice, policy, rt_priority);
  });
}

void set_priority_of_foreground(int nice, int policy, int rt_priority) {
  foreground_app app;
  read_foreground_app(&app);
  nice = clamp_nice(nice);
  const long entries = for_each_process(after_init, [&](int pid, const process_texts& t) {
    if (is_foreground(app, t.name) || is_foreground(app, t.cmdline)) apply(pid, nice, policy, rt_priority);
  });
  if (entries <= 0) return;
  puts(app.name);
}
