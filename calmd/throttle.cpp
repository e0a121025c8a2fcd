#include "throttle.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "calm_log.h"
#include "foreground.h"
#include "proc_dir.h"
#include "proc_path.h"
#include "process_identity.h"
#include "scan_int.h"
#include "stat_fields.h"
#include "throttle_rules.h"
#include "value_file.h"

int context_switch_delta = 2147483647;
int runnable_count = 1;
pid_t own_pid = 0;

namespace {

struct proc_sample {
  int user_1, system_1;
  int nice;
  bool skip;
  bool kernel_thread;
};

bool read_cpu_total(int* total) {
  int user = 0, nice = 0, system = 0, idle = 0;
  if (read_value("/proc/stat", "cpu %i %i %i %i", &user, &nice, &system, &idle) != 4) return false;
  *total = wrapping_add(wrapping_add(user, nice), wrapping_add(system, idle));
  return true;
}

void first_sample(int pid, proc_sample* s) {
  stat_fields f;
  s->kernel_thread = false;
  if (!read_stat_fields(pid, &f)) {
    s->skip = true;
    return;
  }
  s->user_1 = wrapping_add(f.utime, f.cutime);
  s->system_1 = wrapping_add(f.stime, f.cstime);
  s->nice = f.nice;
  s->skip = pid < first_examined_pid;
  if (!s->skip) s->skip = s->kernel_thread = is_kernel_thread(pid);
}

void set_nice(int pid, int nice) { setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice); }

void set_policy(int pid, int policy, int priority) {
  const sched_param param = {priority};
  sched_setscheduler(pid, policy, &param);
}

void parent_step(int pid, const char* name, int usage) {
  const int ppid = read_ppid(pid);
  if (ppid == 1) return;
  stat_fields parent;
  if (!read_stat_fields(ppid, &parent)) return;
  char parent_name[comm_text_size];
  read_comm(parent_name, ppid);
  const int new_nice = parent_nice(parent.nice, usage);
  set_nice(ppid, new_nice);
  log_line("%s (%i): parent (%s (%i)) throttled: %i => %i.", name, pid, parent_name, ppid, parent.nice, new_nice);
}

void examine(int pid, const proc_sample& s, int dtotal) {
  const int old_policy = sched_getscheduler(pid);
  if (pid < 2 || s.skip || pid == own_pid) return;
  stat_fields second;
  if (!read_stat_fields(pid, &second)) return;
  char name[comm_text_size];
  char cmdline[cmdline_text_size];
  read_comm(name, pid);
  read_cmdline(cmdline, pid);

  switch (classify_name(name, s.kernel_thread)) {
    case special_name::ksmd:
      set_nice(pid, 4);
      return;
    case special_name::kbase_event:
      return;
    case special_name::kworker_realtime:
      set_policy(pid, SCHED_RR, 2);
      set_nice(pid, 0);
      return;
    case special_name::kworker:
      set_nice(pid, 0);
      return;
    case special_name::none:
      break;
  }

  const int dproc = wrapping_add(wrapping_sub(wrapping_add(second.utime, second.cutime), s.user_1),
                                 wrapping_sub(wrapping_add(second.stime, second.cstime), s.system_1));
  const int usage = usage_figure(dproc, dtotal);
  throttle_decision d = {-4, SCHED_OTHER};
  if (!is_foreground(cmdline)) {
    if (usage >= parent_step_usage) parent_step(pid, name, usage);
    d = decide_throttle(s.nice, usage);
  }
  set_nice(pid, d.nice);
  set_policy(pid, d.policy, 0);

  switch (choose_log(usage, s.nice, d.nice, old_policy, d.policy)) {
    case log_form::with_usage:
      log_line("%s (%i): %i%% [%i jiff], => %i>%i (%i>%i)", name, pid, usage, -1, s.nice, d.nice, old_policy,
               d.policy);
      break;
    case log_form::without_usage:
      log_line("%s (%i): => %i>%i (%i>%i)", name, pid, s.nice, d.nice, old_policy, d.policy);
      break;
    case log_form::none:
      break;
  }
}

}  // namespace

void reset_sched_stats() {
  for_each_dir_entry("/proc", [](const char* entry) {
    int pid = 0;
    scan_int(entry, &pid);
    if (pid < 2) return;
    char path[proc_path_size];
    write_value(proc_path(path, pid, "sched"), "0");
  });
}

void throttle_pass() {
  read_foreground_app();
  log_line("___Active,_ctxt:%i,nr:%i___", context_switch_delta, runnable_count);

  int pids[max_listed_processes];
  int count = 0;
  const long entries = for_each_dir_entry("/proc", [&](const char* entry) {
    int pid = 0;
    scan_int(entry, &pid);
    if (pid != 0 && count < max_listed_processes) pids[count++] = pid;
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
  for (int i = 0; i < count; ++i) examine(pids[i], samples[i], dtotal);
}
