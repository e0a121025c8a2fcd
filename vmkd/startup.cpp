#include "startup.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>

#include "nice_applier.h"
#include "scaling_loop.h"
#include "shell.h"
#include "tuning.h"
#include "value_file.h"

namespace {

constexpr char foreign_kernel_message[] = "This program will not run on kernel other than Velmora Kernel!";
constexpr char not_root_message[] = "Can not work without superuser access!\n";

[[noreturn]] void nice_applier_loop() {
  for (;;) {
    nice_applier_pass();
    usleep(5000000);
  }
}

// Writes def_wak_granularity at once; the main process writes it again a
// moment later (one_shot_settings), unordered with this one: whichever comes
// last stays, which is the main process's value in practice.
[[noreturn]] void fair_parameter_writer() {
  write_value("/sys/module/fair/parameters/def_wak_granularity", "%i\n", 2000000);
  write_value("/sys/module/fair/parameters/bst_wak_granularity", "%i\n", 15000000);
  _exit(0);
}

void one_shot_settings() {
  run_shell("for b in /sys/block/*; do \techo 20 >$b/queue/iosched/request_priority; \tdone &>/dev/null");
  write_value("/sys/kernel/debug/sched_features", "NO_RT_RUNTIME_SHARE\n");
  write_value("/sys/kernel/debug/sched_features", "NO_NEXT_BUDDY\n");
  write_value("/sys/module/cpu_input_boost/parameters/enable_cfs_tune", "%i\n", 0);
  write_value("/sys/module/fair/parameters/def_wak_granularity", "%i\n", 5000000);
  write_value("/sys/module/fair/parameters/min_gran_max_div", "%i\n", 24);
  write_value("/proc/sys/vm/extfrag_threshold", "%i\n", 965);
}

void say(const char* text, size_t length) {
  if (write(STDERR_FILENO, text, length) < 0) return;
}

}  // namespace

bool velmora_kernel() {
  char text[129];
  return read_text_file("/proc/version", text, sizeof text) > 0 && strstr(text, "VmK") != nullptr;
}

int run_vmkd() {
  const pid_t self = getpid();
  if (!velmora_kernel()) {
    say(foreign_kernel_message, sizeof foreign_kernel_message - 1);
    return 1;
  }
  if (getuid() != 0) {
    say(not_root_message, sizeof not_root_message - 1);
    return 1;
  }
  signal(SIGCHLD, SIG_IGN);
  setpriority(PRIO_PROCESS, static_cast<id_t>(self), -4);

  const pid_t sscaling = fork();
  if (sscaling == 0) scaling_loop();
  const pid_t nice_applier = fork();
  if (nice_applier == 0) nice_applier_loop();
  if (fork() == 0) fair_parameter_writer();

  one_shot_settings();
  tuning_loop(sscaling, nice_applier);
}
