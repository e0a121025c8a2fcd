// The simulated device: runs vmkd and calmd in the sandbox for a while, with
// processes named like a phone's, then reports what they changed.
#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "activity.h"
#include "sandbox.h"
#include "scheduling.h"

namespace {

using namespace sandbox;

struct settings {
  int seconds = 15;
  int profile = 0;
  int android = 13;
};

struct sample_process {
  spawn_spec shape;
  int nice;         // set before the daemons start
  const char* why;  // what the process stands for
};

const std::vector<sample_process>& sample_processes() {
  static const std::vector<sample_process> list = {
      {{"dex2oat", {"/system/bin/dex2oat", "--zip-fd=6", "--oat-fd=7"}}, 0, "app compiler"},
      {{"logd", {"/system/bin/logd"}}, 0, "log daemon"},
      {{"lmkd", {"/system/bin/lmkd"}}, 0, "low-memory killer"},
      {{"ndroid.apps.photos", {"com.google.android.apps.photos"}}, 0, "gallery app"},
      {{"fingerprint@2.1", {"/vendor/bin/hw/android.hardware.biometrics.fingerprint@2.1-service"}},
       0,
       "fingerprint HAL"},
      {{"lobalminusscreen", {"com.mi.android.globalminusscreen"}}, 0, "launcher feed"},
      {{"surfaceflinger", {"/system/bin/surfaceflinger"}}, -8, "compositor (no rule)"},
      {{"com.example.app", {"com.example.app"}, true}, 0, "focused app (busy)"},
      {{"example.sleeper", {"com.example.sleeper"}}, 8, "idle background app"},
      {{"example.miner", {"com.example.miner"}, true}, 0, "busy background app"},
      {{"example.sync", {"com.example.sync"}, false, "sync-worker", true}, 0, "app with a busy worker"},
  };
  return list;
}

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

double cpu_seconds(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  long fields[20] = {};
  const char* at = stat.c_str() + close + 2;
  for (int field = 3; field <= 17 && *at; ++field) {
    fields[field] = atol(at);
    while (*at && *at != ' ') ++at;
    while (*at == ' ') ++at;
  }
  return static_cast<double>(fields[14] + fields[15]) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int count_runs(const std::string& log, const std::string& form) {
  int n = 0;
  for (size_t at = log.find(form); at != std::string::npos; at = log.find(form, at + 1)) ++n;
  return n;
}

void section(const char* title) { printf("\n== %s ==\n", title); }

// Keeps the fake /proc/stat a phone's, with this machine's counters.
pid_t start_stat_feeder() {
  set_proc_stat(phone_proc_stat(real_proc_stat()));  // before the daemons' first read
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (;;) {
      set_proc_stat(phone_proc_stat(real_proc_stat()));
      usleep(20000);
    }
  }
  return pid;
}

// What started each pass, from its first log line: the daemon runs one when
// its clock says so, or when the system looks busy.
void report_pass_triggers(const std::string& log) {
  const std::string marker = "[calm]: ___Active,_ctxt:";
  int passes = 0, by_switches = 0, by_runnable = 0;
  std::string lines;
  for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    int ctxt = 0, nr = 0;
    if (sscanf(log.c_str() + at + marker.size(), "%i,nr:%i", &ctxt, &nr) != 2) continue;
    const busy_sign sign = busy_sign_of(ctxt, nr);
    const char* trigger = passes == 0                           ? "start (the first cycle always runs one)"
                          : sign == busy_sign::context_switches ? "context switches (more than 5999)"
                          : sign == busy_sign::runnable         ? "runnable count (5 or more)"
                                                                : "clock (3 s since the last)";
    by_switches += passes > 0 && sign == busy_sign::context_switches;
    by_runnable += passes > 0 && sign == busy_sign::runnable;
    char line[160];
    snprintf(line, sizeof line, "  pass %2i  ctxt %-11i nr %-3i  %s\n", ++passes, ctxt, nr, trigger);
    lines += line;
  }
  printf("%s", lines.c_str());
  printf("  %i passes: %i by context switches, %i by the runnable count, %i by the clock, 1 at start.\n", passes,
         by_switches, by_runnable, passes > 0 ? passes - 1 - by_switches - by_runnable : 0);
  printf(
      "  On a phone the \"ctxt\" line lies past the first 2048 bytes of /proc/stat that calmd reads, so the\n"
      "  context-switch delta is always 0: only the runnable count and the clock start passes.\n");
}

int simulate(const settings& s) {
  struct tracked {
    pid_t pid;
    std::string name, why;
    int nice;
    int policy;
  };
  std::vector<tracked> processes;
  for (const sample_process& p : sample_processes()) {
    const pid_t pid = spawn(p.shape);
    set_nice(pid, p.nice);
    processes.push_back({pid, p.shape.argv[0], p.why, nice_of(pid), policy_of(pid)});
    if (!p.shape.child_comm.empty())
      for (pid_t child : pids_named(p.shape.child_comm))
        processes.push_back({child, p.shape.child_comm + " (child of " + p.shape.argv[0] + ")", "busy worker",
                             nice_of(child), policy_of(child)});
  }
  std::map<std::string, std::string> before;
  for (const fake_file& f : device_files()) before[f.path] = read_file(f.path);
  const pid_t feeder = start_stat_feeder();
  set_focused_app("com.example.app");
  if (s.profile != 2) {  // 2 is the default the daemon creates itself
    mkdir("/data/media/0/vmk_params", 0777);
    write_file("/data/media/0/vmk_params/cur_profile", std::to_string(s.profile) + "\n");
  }

  printf(
      "Simulated phone: Android %i, kernel \"%s\", %zu sample processes; running vmkd and calmd for %i s "
      "(profile %i)...\n",
      s.android, trim(read_file("/proc/version")).substr(0, 40).c_str(), processes.size(), s.seconds, s.profile);
  fflush(stdout);
  const pid_t vmkd = start_command(VMKD_BINARY, {VMKD_BINARY}, "/run/sim/vmkd.out");
  const pid_t calmd = start_command(CALMD_BINARY, {CALMD_BINARY}, "/run/sim/calmd.out");
  // Every half second, note each sample process's state when it changed.
  std::vector<std::vector<std::pair<int, int>>> history(processes.size());
  for (size_t i = 0; i < processes.size(); ++i) history[i].push_back({processes[i].nice, processes[i].policy});
  for (int tick = 0; tick < s.seconds * 2; ++tick) {
    usleep(500000);
    for (size_t i = 0; i < processes.size(); ++i) {
      const std::pair<int, int> now = {nice_of(processes[i].pid), policy_of(processes[i].pid)};
      if (now != history[i].back()) history[i].push_back(now);
    }
  }

  section("vmkd: kernel settings it wrote (file: before -> now)");
  for (const fake_file& f : device_files()) {
    const std::string now = read_file(f.path);
    if (now != before[f.path]) printf("  %-70s %s -> %s\n", f.path, trim(before[f.path]).c_str(), trim(now).c_str());
  }
  section("vmkd: parameter files in /data/media/0/vmk_params (edit them to tune)");
  if (DIR* dir = opendir("/data/media/0/vmk_params")) {
    std::map<std::string, std::string> files;
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') files[e->d_name] = trim(read_file(std::string("/data/media/0/vmk_params/") + e->d_name));
    closedir(dir);
    for (const auto& [key, value] : files) printf("  %-22s %s\n", key.c_str(), value.c_str());
  }
  section("vmkd: Android properties it set (setprop calls)");
  std::map<std::string, int> props;
  const std::string setprops = setprop_log();
  for (size_t at = 0; at < setprops.size();) {
    const size_t end = setprops.find('\n', at);
    ++props[setprops.substr(at, end - at)];
    at = end + 1;
  }
  for (const auto& [call, count] : props) printf("  setprop %s   (%i times)\n", call.c_str(), count);

  section("sample processes: nice/policy over the run, every change seen (half-second samples)");
  printf(
      "  vmkd's nice applier sets fixed values every 5 s; calmd's passes move every process from its\n"
      "  current value every few seconds, so a well-known process can alternate between the two.\n");
  for (size_t i = 0; i < processes.size(); ++i) {
    std::string timeline;
    for (const auto& [nice, policy] : history[i])
      timeline += (timeline.empty() ? "" : " > ") + std::to_string(nice) + "/" + policy_name(policy);
    printf("  %-5i %-24s %-30.30s %s\n", processes[i].pid, processes[i].why.c_str(), processes[i].name.c_str(),
           timeline.c_str());
  }
  const std::string log = kernel_log();
  section("calmd: its passes and what started each");
  report_pass_triggers(log);
  section("calmd: what dumpsys answered (the focus detection's runs)");
  const std::string runs = dumpsys_log();
  printf("  \"dumpsys window windows\" ran %i times, \"dumpsys window displays\" %i times\n",
         count_runs(runs, "window windows "), count_runs(runs, "window displays "));

  section("kernel log (/dev/kmsg): vmkd messages and calmd's lines");
  printf("%s%s", log.empty() ? "  (empty)\n" : log.c_str(), !log.empty() && log.back() != '\n' ? "\n" : "");

  section("cost of the daemons' processes during the run");
  for (pid_t pid : pids_of_program(VMKD_BINARY))
    printf("  vmkd  pid %-5i cpu %6.3f s   VmRSS %5li KiB   VmHWM %5li KiB%s\n", pid, cpu_seconds(pid),
           status_kib(pid, "VmRSS"), status_kib(pid, "VmHWM"), pid == vmkd ? "   (main)" : "");
  printf("  calmd pid %-5i cpu %6.3f s   VmRSS %5li KiB   VmHWM %5li KiB\n", calmd, cpu_seconds(calmd),
         status_kib(calmd, "VmRSS"), status_kib(calmd, "VmHWM"));
  kill(feeder, SIGKILL);
  const std::string errors = read_file("/run/sim/vmkd.out") + read_file("/run/sim/calmd.out");
  if (!errors.empty()) {
    section("daemon output");
    printf("%s\n", errors.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  settings s;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      s.seconds = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
      s.profile = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--android") == 0 && i + 1 < argc) {
      s.android = atoi(argv[++i]);
    } else {
      fprintf(stderr,
              "usage: %s [--seconds N] [--profile P] [--android V]\n"
              "  Runs vmkd and calmd for N seconds (default 15) in the device sandbox and reports\n"
              "  what they changed. Profile 0 (default) is load-driven scaling; 2 and 3 the fixed full setting.\n"
              "  V is the Android version whose dumpsys the phone imitates (default 13; 7 to 9 print the\n"
              "  focus in the window listing, 10 and later in the display section).\n",
              argv[0]);
      return 2;
    }
  }
  if (s.seconds < 1) s.seconds = 1;
  options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  o.fake_stat = true;
  o.android = s.android;
  o.timeout_seconds = s.seconds + 60;
  const int status = run(o, [&] { return simulate(s); });
  if (status != 0) fprintf(stderr, "simulation failed (status %i)\n", status);
  return status == 0 ? 0 : 1;
}
