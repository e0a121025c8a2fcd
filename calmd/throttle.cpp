#include "throttle.h"

#include <sched.h>
#include <unistd.h>

#include "calm_log_writer.h"
#include "foreground.h"
#include "proc_dir.h"
#include "proc_path.h"
#include "process_identity.h"
#include "stat_fields.h"
#include "thread_step.h"
#include "throttle_rules.h"
#include "value_file.h"
#include "wrapping.h"

namespace {

struct proc_sample {
  int user_1, system_1;
  int nice;
  bool skip;
};

bool read_cpu_total(int* total) {
  int user = 0, nice = 0, system = 0, idle = 0;
  if (read_value("/proc/stat", "cpu %i %i %i %i", &user, &nice, &system, &idle) != 4) return false;
  *total = wrapping_add(wrapping_add(user, nice), wrapping_add(system, idle));
  return true;
}

void first_sample(int pid, proc_sample* s) {
  stat_fields f;
  if (!read_stat_fields(pid, &f)) {
    s->skip = true;
    return;
  }
  s->user_1 = wrapping_add(f.utime, f.cutime);
  s->system_1 = wrapping_add(f.stime, f.cstime);
  s->nice = f.nice;
  // Kernel threads are never examined, so the names kernel threads have get
  // no treatment of their own here: a program that took one is like any other.
  s->skip = pid < first_examined_pid || is_kernel_thread(pid);
}

void parent_step(int pid, const char* name, int usage) {
  const int ppid = read_ppid(pid);
  if (ppid == 1) return;
  stat_fields parent;
  if (!read_stat_fields(ppid, &parent)) return;
  char parent_name[comm_text_size];
  read_comm(parent_name, ppid);
  const int new_nice = parent_nice(parent.nice, usage);
  change_process(ppid, {parent.nice, parent.policy}, nice_change(new_nice));
  calm_line line;
  line.kind = calm_line_kind::parent_push;
  logged_name(name, line.name);
  line.pid = pid;
  logged_name(parent_name, line.parent);
  line.ppid = ppid;
  line.nice = parent.nice;
  line.new_nice = new_nice;
  log_calm_line(line);
}

void examine(int pid, const proc_sample& s, int dtotal, const pass_state& state) {
  // Read before the tests that pass the pid over: the order of calls is the pass's own.
  const int old_policy = sched_getscheduler(pid);
  if (pid < 2 || s.skip || pid == state.own_pid) return;
  stat_fields second;
  if (!read_stat_fields(pid, &second)) return;
  char name[comm_text_size];
  char cmdline[cmdline_text_size];
  read_comm(name, pid);
  read_cmdline(cmdline, pid);

  const int dproc = wrapping_add(wrapping_sub(wrapping_add(second.utime, second.cutime), s.user_1),
                                 wrapping_sub(wrapping_add(second.stime, second.cstime), s.system_1));
  const int usage = usage_figure(dproc, dtotal);
  throttle_decision d = foreground_treatment;
  if (!is_foreground(state.foreground, cmdline)) {
    if (usage >= parent_step_usage) parent_step(pid, name, usage);
    d = decide_throttle(s.nice, usage);
  }
  // The values the main thread has just before the change: those its threads in step share.
  change_process(pid, {second.nice, second.policy}, nice_then_policy(d.nice, d.policy));

  if (choose_log(usage, s.nice, d.nice, old_policy, d.policy) == log_form::none) return;
  calm_line line;
  line.kind = calm_line_kind::change;
  logged_name(name, line.name);
  line.pid = pid;
  line.usage = usage;
  line.nice = s.nice;
  line.new_nice = d.nice;
  line.old_policy = old_policy;
  line.new_policy = d.policy;
  log_calm_line(line);
}

// Any write clears a task's scheduler statistics.
void reset_sched_stats() {
  for_each_pid(after_init, [](int pid) {
    char path[proc_path_size];
    write_value(proc_path(path, pid, "sched"), "0");
  });
}

}  // namespace

void throttle_pass(pass_state& state) {
  read_foreground_app(&state.foreground);
  calm_line start;
  start.ctxt = state.context_switch_delta;
  start.nr = state.runnable_count;
  log_calm_line(start);

  // Init is listed too; the examination passes it over.
  int pids[max_listed_processes];
  int count = 0;
  const long entries = for_each_pid(from_init, [&](int pid) {
    if (count < max_listed_processes) pids[count++] = pid;
  });
  if (entries <= 0) return;
  reset_sched_stats();

  proc_sample samples[max_listed_processes];
  int total_1 = 0, total_2 = 0;
  const bool have_total_1 = read_cpu_total(&total_1);
  for (int i = 0; i < count; ++i) first_sample(pids[i], &samples[i]);
  usleep(100000);
  const bool have_total_2 = read_cpu_total(&total_2);
  const int dtotal = have_total_1 && have_total_2 ? wrapping_sub(total_2, total_1) : 0;
  for (int i = 0; i < count; ++i) examine(pids[i], samples[i], dtotal, state);
}
