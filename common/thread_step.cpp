#include "thread_step.h"

#include <sched.h>
#include <sys/resource.h>

#include <cerrno>

#include "proc_dir.h"
#include "scheduling.h"

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

struct proc_tasks {
  template <class Visit>
  static void for_each_thread(int pid, Visit&& visit) {
    ::for_each_thread(pid, visit);
  }
  static bool read(int, int tid, sched_values* out) { return read_sched_values(tid, out); }
  static void apply(int tid, const sched_change& change) { apply_change(tid, change); }
};

}  // namespace

bool read_sched_values(int tid, sched_values* out) {
  // Two calls, cheaper than the kernel's formatting of a stat file.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno != 0) return false;
  const int policy = sched_getscheduler(tid);
  if (policy < 0) return false;
  *out = {nice, policy & ~SCHED_RESET_ON_FORK};
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
