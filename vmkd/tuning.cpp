#include "tuning.h"

#include <signal.h>
#include <unistd.h>

#include "boost_modes.h"
#include "param_store.h"
#include "process_identity.h"
#include "shell.h"
#include "user_params.h"
#include "value_file.h"

namespace {

struct reclaim_row {
  const char* file;
  const char* key;  // nullptr: a fixed value
  int value;        // the default when the row has a key
};

constexpr reclaim_row from_param(const char* file, user_param_id id) {
  return {file, user_params[id].key, user_params[id].default_value};
}

constexpr std::array<reclaim_row, 6> reclaim_rows = {{
    from_param("/sys/module/process_reclaim/parameters/swap_pages", ram_pr_swap_pages),
    from_param("/sys/module/process_reclaim/parameters/min_pressure", ram_pr_threshold),
    from_param("/sys/module/process_reclaim/parameters/score_adj_thr", ram_pr_task_min_adj),
    {"/sys/module/process_reclaim/parameters/reclaimable_adj_decr", nullptr, 20},
    from_param("/sys/module/process_reclaim/parameters/swap_eff_thr", ram_pr_efficiency),
    {"/sys/module/process_reclaim/parameters/swap_eff_win", nullptr, 1},
}};

constexpr const user_param& boost_mode = user_params[sched_dstune_mode];
// Deleting the mode file makes the next read recreate it with the default;
// a storage that keeps refusing must not make the step spin.
constexpr int boost_attempts = 3;

constexpr char iosched_command[] =
    "for b in /sys/block/*; do \techo 1 >$b/queue/iosched/low_latency; \techo 1000 >$b/queue/iosched/wr_coeff; "
    "\techo 2000 >$b/queue/iosched/wr_min_idle_time; \techo 6000 >$b/queue/iosched/wr_max_time; \tdone &>/dev/null";

void boost_step() {
  for (int attempt = 0; attempt < boost_attempts; ++attempt) {
    write_value("/dev/stune/foreground/schedtune.colocate", "%i\n", 1);
    const boost_row* row = nullptr;
    switch (choose_boost(read_param(boost_mode), &row)) {
      case boost_action::write_row:
        for (int i = 0; i < boost_file_count; ++i) write_value(boost_files[i], "%i\n", (*row)[i]);
        return;
      case boost_action::leave: return;
      case boost_action::reset_mode:
        if (!remove_param(boost_mode.key)) return;
        break;
    }
  }
}

// A child that ended is reaped at once, so its pid may already name another
// process: only one whose parent is still this process counts.
bool child_alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0 && read_ppid(pid) == getpid(); }

// A pid of -1 or 0 (a fork that failed), or one that another process holds now, counts as gone.
void liveness_check(pid_t sscaling, pid_t nice_applier) {
  if (!child_alive(sscaling)) write_value("/dev/kmsg", "vmkd: sscaling process is not running...");
  if (!child_alive(nice_applier)) write_value("/dev/kmsg", "vmkd: nice applier process is not running...");
}

void tuning_cycle(unsigned n, pid_t sscaling, pid_t nice_applier) {
  const cycle_steps steps = steps_of_cycle(n);
  const int profile = read_param(user_params[cur_profile]);
  if (steps.liveness) liveness_check(sscaling, nice_applier);
  for (const reclaim_row& row : reclaim_rows)
    write_value(row.file, "%i\n", row.key != nullptr ? read_param(row.key, row.value) : row.value);
  if (steps.periodic) {
    write_value("/sys/module/lowmemorykiller/parameters/oom_reaper", "0\n");
    write_value("/sys/module/lowmemorykiller/parameters/enable_adaptive_lmk", "0\n");
    boost_step();
    run_shell(iosched_command);
  }
  write_value("/sys/devices/virtual/block/zram0/compact", "%i\n", 1);
  write_param(enable_boost_key, profile == 3 ? 1 : 0);
}

}  // namespace

void tuning_loop(pid_t sscaling, pid_t nice_applier) {
  for (unsigned n = 0;; ++n) {
    tuning_cycle(n, sscaling, nice_applier);
    sleep(10);
  }
}
