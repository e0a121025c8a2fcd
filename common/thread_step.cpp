#include "thread_step.h"

#include <sched.h>

#include "proc_path.h"
#include "scheduling.h"
#include "stat_fields.h"
#include "value_file.h"

bool is_real_time(int policy) { return policy == SCHED_FIFO || policy == SCHED_RR; }

bool moves_with_main(const sched_values& main_before, const sched_values& thread) {
  return !is_real_time(main_before.policy) && thread.nice == main_before.nice && thread.policy == main_before.policy;
}

sched_change nice_change(int nice) {
  sched_change c;
  c.sets_nice = true;
  c.nice = nice;
  return c;
}

sched_change policy_change(int policy, int rt_priority) {
  sched_change c;
  c.sets_policy = true;
  c.policy = policy;
  c.rt_priority = rt_priority;
  return c;
}

sched_change nice_then_policy(int nice, int policy) {
  sched_change c = policy_change(policy, 0);
  c.sets_nice = true;
  c.nice = nice;
  return c;
}

sched_change policy_then_nice(int policy, int rt_priority, int nice) {
  sched_change c = policy_change(policy, rt_priority);
  c.sets_nice = true;
  c.nice = nice;
  c.policy_first = true;
  return c;
}

sched_values values_after(const sched_values& before, const sched_change& change) {
  sched_values after = before;
  if (change.sets_nice) after.nice = clamp_nice(change.nice);
  if (change.sets_policy) after.policy = change.policy;
  return after;
}

bool threads_to_walk(const sched_values& main_before, const sched_change& change) {
  const sched_values after = values_after(main_before, change);
  return !is_real_time(main_before.policy) && (after.nice != main_before.nice || after.policy != main_before.policy);
}

namespace {

// "/proc/<pid>/task/<tid>/stat": at most 6 + 11 + 6 + 11 + 5 bytes.
char* task_stat_path(char* out, int pid, int tid) {
  proc_path(out, pid, "task/");
  char* at = out;
  while (*at != '\0') ++at;
  char digits[12];
  int n = 0;
  unsigned value = tid < 0 ? 0u : static_cast<unsigned>(tid);
  do digits[n++] = static_cast<char>('0' + value % 10);
  while ((value /= 10) > 0);
  while (n > 0) *at++ = digits[--n];
  for (const char* leaf = "/stat"; *leaf != '\0';) *at++ = *leaf++;
  *at = '\0';
  return out;
}

struct proc_tasks {
  template <class Visit>
  void for_each_thread(int pid, Visit&& visit) {
    char path[proc_path_size];
    for_each_dir_entry(proc_path(path, pid, "task"), [&](const char* entry) {
      int tid = 0;  // stays 0 for "." and ".."
      scan_int(entry, &tid);
      if (tid > 0) visit(tid);
    });
  }
  static bool read(int pid, int tid, sched_values* out) {
    char path[proc_path_size];
    char text[1024];
    if (read_text_file(task_stat_path(path, pid, tid), text, sizeof text) <= 0) return false;
    const stat_fields f = parse_stat_fields(text);
    *out = {f.nice, f.policy};
    return true;
  }
  static void apply(int tid, const sched_change& change) { apply_change(tid, change); }
};

}  // namespace

bool read_sched_values(int pid, sched_values* out) {
  stat_fields f;
  if (!read_stat_fields(pid, &f)) return false;
  *out = {f.nice, f.policy};
  return true;
}

void apply_change(int tid, const sched_change& change) {
  if (change.sets_policy && change.policy_first) set_policy(tid, change.policy, change.rt_priority);
  if (change.sets_nice) set_nice(tid, change.nice);
  if (change.sets_policy && !change.policy_first) set_policy(tid, change.policy, change.rt_priority);
}

void change_process(int pid, const sched_values& main_before, const sched_change& change) {
  proc_tasks tasks;
  change_process_with(tasks, pid, main_before, change);
}

void change_process(int pid, const sched_change& change) {
  sched_values before;
  if (read_sched_values(pid, &before))
    change_process(pid, before, change);
  else
    apply_change(pid, change);
}
