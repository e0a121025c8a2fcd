// Prints what one pass or cycle of each daemon costs in CPU time, and the
// resident memory of their processes, measured in the device sandbox.
// CPU time is the kernel's own accounting (/proc/<pid>/schedstat, in ns, and
// the rusage of ended commands), not wall time.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sandbox.h"

namespace {

using namespace sandbox;

double on_cpu_ms(pid_t pid) {
  return static_cast<double>(atoll(read_file("/proc/" + std::to_string(pid) + "/schedstat").c_str())) / 1e6;
}

long status_kib(pid_t pid, const std::string& key) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find(key + ":");
  return at == std::string::npos ? -1 : atol(status.c_str() + at + key.size() + 1);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// CPU time of one "calmd -s" (itself and the pipeline it waits for), in ms.
double throttle_pass_ms() {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", 1);
    dup2(null, 1);
    execl(CALMD_BINARY, CALMD_BINARY, "-s", nullptr);
    _exit(127);
  }
  int status;
  rusage use;
  wait4(pid, &status, 0, &use);
  return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3 + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
}

void idle_processes(int count) {
  for (int i = 0; i < count; ++i) spawn({"idle" + std::to_string(i), {"com.example.idle" + std::to_string(i)}});
}

int measure() {
  printf("%-58s %12s\n", "figure", "value");
  for (int count : {100, 1000}) {
    idle_processes(count - static_cast<int>(all_pids().size()) > 0 ? count - static_cast<int>(all_pids().size()) : 0);
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) runs.push_back(throttle_pass_ms());
    printf("calmd -s over %4zu processes: CPU per pass (median of 5)  %9.2f ms\n", all_pids().size(), median(runs));
  }

  // vmkd: the nice applier passes every 5 s, the scaling loop cycles every ~200 ms.
  mkdir("/data/media/0/vmk_params", 0777);
  write_file("/data/media/0/vmk_params/cur_profile", "0\n");
  const pid_t main_pid = start_command(VMKD_BINARY, {VMKD_BINARY}, "/run/sim/vmkd.out");
  wait_for([] { return pids_of_program(VMKD_BINARY).size() == 3; }, 5000);
  std::vector<pid_t> children;
  for (pid_t pid : pids_of_program(VMKD_BINARY))
    if (pid != main_pid) children.push_back(pid);
  std::sort(children.begin(), children.end());
  if (children.size() != 2) return 1;
  const pid_t sscaling = children[0], applier = children[1];
  sleep(1);
  const double scaling_before = on_cpu_ms(sscaling), applier_before = on_cpu_ms(applier);
  const size_t calls_before = setprop_log().size();
  sleep(10);  // two applier passes, about fifty scaling cycles
  const double scaling_ms = on_cpu_ms(sscaling) - scaling_before;
  const double cycles = static_cast<double>(setprop_log().size() - calls_before) /
                        static_cast<double>(std::string("persist.vmk.profile.reapply 0\n").size());
  printf("vmkd nice applier over %4zu processes: CPU per pass          %9.2f ms\n", all_pids().size(),
         (on_cpu_ms(applier) - applier_before) / 2);
  printf("vmkd scaling cycle (without its setprop shell): CPU per cycle %8.3f ms  (%.0f cycles)\n",
         scaling_ms / cycles, cycles);
  for (pid_t pid : {main_pid, sscaling, applier})
    printf("vmkd %-12s VmRSS %5li KiB  VmHWM %5li KiB\n",
           pid == main_pid ? "main" : pid == sscaling ? "sscaling" : "nice applier", status_kib(pid, "VmRSS"),
           status_kib(pid, "VmHWM"));
  const pid_t calmd = start_command(CALMD_BINARY, {CALMD_BINARY}, "/run/sim/calmd.out");
  sleep(5);
  printf("calmd daemon  VmRSS %5li KiB  VmHWM %5li KiB\n", status_kib(calmd, "VmRSS"), status_kib(calmd, "VmHWM"));
  return 0;
}

}  // namespace

int main() {
  options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  o.timeout_seconds = 300;
  return run(o, measure) == 0 ? 0 : 1;
}
