#include "scaling_loop.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cpu_load.h"
#include "param_store.h"
#include "scaling.h"
#include "shell.h"
#include "value_file.h"

namespace {

constexpr const char* policy0_max = "/sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq";
constexpr const char* policy4_max = "/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq";
constexpr const char* policy0_min = "/sys/devices/system/cpu/cpufreq/policy0/scaling_min_freq";
constexpr const char* policy4_min = "/sys/devices/system/cpu/cpufreq/policy4/scaling_min_freq";

// Read-only between writes, so that non-root writers cannot move the limits.
void write_frequency(const char* path, int khz) {
  chmod(path, 0644);
  write_value(path, "%i\n", khz);
  chmod(path, 0444);
}

void write_setting(const scaling_setting& s) {
  for (int i = 0; i < cpuset_group_count; ++i) write_value(cpuset_files[i], "%s\n", s.cpus[i]);
  write_frequency(policy0_max, s.policy0_max);
  write_frequency(policy4_max, s.policy4_max);
}

}  // namespace

bool scaling_cycle(scaling_state& state) {
  const int cpu_load = cpu_load_percent(100);
  int gpu_busy = 0;
  read_value(gpu_busy_file, "%i %%\n", &gpu_busy);
  read_value("/proc/loadavg", "%*f %*f %*f %i/%*i", &state.runnable);
  int iowait = state.previous_iowait;
  read_value("/proc/stat", "cpu %*i %*i %*i %*i %i", &iowait);
  int touch = 0;
  read_value(touch_file, "%i\n", &touch);
  read_value("/proc/loadavg", "%f %*f %*f", &state.load_avg);
  const int profile = read_param("cur_profile", 2);
  const int iowait_delta =
      static_cast<int>(static_cast<unsigned>(iowait) - static_cast<unsigned>(state.previous_iowait));
  state.previous_iowait = iowait;

  if (profile != 0) {
    if (!state.full_setting_written) {
      write_setting(full_setting);
      run_shell("setprop persist.vmk.profile.reapply 1");
      state.full_setting_written = true;
    }
    return true;
  }

  const scaling_choice choice =
      choose_scaling({cpu_load, gpu_busy, state.runnable, iowait_delta, touch, state.load_avg});
  run_shell("setprop persist.vmk.profile.reapply 0");
  write_setting(choice.setting);
  write_frequency(policy0_min, 614400);
  write_frequency(policy4_min, 633600);
  state.full_setting_written = false;
  return false;
}

void scaling_loop() {
  scaling_state state;
  for (;;) {
    if (scaling_cycle(state))
      sleep(10);
    else
      usleep(100000);
  }
}
