// Both daemons for minutes, with processes starting and ending all the time:
// descriptors, memory and process counts must stay flat, and no zombie appear.
// Not in the default run: ctest -L soak (VMK_SOAK_SECONDS sets the length).
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "device_support.h"

namespace {

using namespace sandbox;

struct figures {
  size_t processes = 0;
  long descriptors = 0;
  long rss_kib = 0;
  int zombies = 0;
};

long descriptors_of(pid_t pid) {
  long n = 0;
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

figures measure() {
  figures f;
  for (const std::string& program : {vmkd_binary, calmd_binary})
    for (pid_t pid : pids_of_program(program)) {
      ++f.processes;
      f.descriptors += descriptors_of(pid);
      f.rss_kib += status_kib(pid, "VmRSS");
    }
  for (pid_t pid : all_pids())
    if (state_of(pid) == 'Z' && parent_of(pid) != 1) ++f.zombies;
  return f;
}

TEST(Soak, DaemonsStayFlatUnderProcessChurnSoak) {
  const char* env = getenv("VMK_SOAK_SECONDS");
  const int seconds = env != nullptr ? atoi(env) : 300;
  sandbox::options o = device_options();
  o.timeout_seconds = seconds + 120;
  in_sandbox(o, [&] {
    mkdir("/data/media/0/vmk_params", 0777);
    write_file("/data/media/0/vmk_params/cur_profile", "0\n");
    set_focused_app("com.example.app");
    spawn({"com.example.app", {"com.example.app"}});
    spawn({"busy", {"busy"}, true});
    // Processes come and go all the time: a few long-lived, many short-lived.
    const pid_t churn = fork();
    if (churn == 0) {
      for (unsigned i = 0;; ++i) {
        const pid_t child = fork();
        if (child == 0) {
          usleep(i % 7 == 0 ? 3000000 : 20000);
          _exit(0);
        }
        usleep(10000);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
      }
    }
    start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out");
    start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
    sleep(10);
    const figures start = measure();
    sleep(static_cast<unsigned>(seconds));
    const figures end = measure();
    const size_t cycles = setprop_log().size() / std::string("persist.vmk.profile.reapply 0\n").size();
    const int passes = count_of(kernel_log(), "___Active");
    printf("soak: %i s, %zu scaling cycles, %i throttle passes\n", seconds, cycles, passes);
    printf("soak: start: %zu processes, %li descriptors, %li KiB resident, %i zombies\n", start.processes,
           start.descriptors, start.rss_kib, start.zombies);
    printf("soak: end:   %zu processes, %li descriptors, %li KiB resident, %i zombies\n", end.processes,
           end.descriptors, end.rss_kib, end.zombies);
    EXPECT_EQ(4u, start.processes);
    EXPECT_EQ(start.processes, end.processes);
    EXPECT_EQ(start.descriptors, end.descriptors);
    EXPECT_LE(end.rss_kib, start.rss_kib + 64);
    EXPECT_EQ(0, end.zombies);
    stop(churn);
  });
}

}  // namespace
