#include "scaling_loop.h"

#include <sys/stat.h>
#include <unistd.h>

#include "param_store.h"
#include "scaling.h"
#include "shell.h"
#include "user_params.h"
#include "value_file.h"

namespace {

// Read-only between writes, so that non-root writers cannot move the limits.
void write_frequency(const char* path, int khz) {
  chmod(path, 0644);
  write_value(path, "%i\n", khz);
  chmod(path, 0444);
}

void write_setting(const scaling_setting& s) {
  for (int i = 0; i < cpuset_group_count; ++i) write_value(cpuset_files[i], "%s\n", s.cpus[i]);
  write_frequency(policy0_max_file, s.policy0_max);
  write_frequency(policy4_max_file, s.policy4_max);
}

}  // namespace

bool scaling_cycle(scaling_state& state) {
  // Read, then make the inputs of the texts (updating what the next cycle
  // needs in both regimes), then choose and write.
  scaling_texts texts;
  read_scaling_texts(&texts);
  const int profile = read_param(user_params[cur_profile]);
  const scaling_inputs inputs = scaling_inputs_from(texts, &state.memory);

  if (profile != 0) {
    if (!state.full_setting_written) {
      write_setting(full_setting);
      run_shell("setprop persist.vmk.profile.reapply 1");
      state.full_setting_written = true;
    }
    return true;
  }

  const scaling_choice choice = choose_scaling(inputs);
  run_shell("setprop persist.vmk.profile.reapply 0");
  write_setting(choice.setting);
  write_frequency(policy0_min_file, policy0_min_khz);
  write_frequency(policy4_min_file, policy4_min_khz);
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
