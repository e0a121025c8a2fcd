// The benchmark of the virtual phone (tools/bench.sh --phone, which boots it
// with tools/phone_vm/phone-vm.sh --bench): runs there as root, with no sandbox, the
// real vmkd and calmd on a real Arm kernel with its real cpusets.
//
// 1. How fast vmkd's load-driven scaling follows a burst (burst_follow.h).
// 2. What calmd and vmkd's nice applier do for the focused app (frame_runs.h),
//    with the app in top-app and the background apps in background, as
//    Android groups them. Both groups hold CPU 0 alone: the eight emulated
//    CPUs share this machine's two cores, and a process's priority only
//    counts against those on its own CPU, so the contest is held on one CPU
//    while the other seven stay idle (a phone whose other CPUs are busy).
//    background is "0" in every band of vmkd's table; top-app is narrowed to
//    it. vmkd's scaling does not run here: it would widen top-app again.
//    A short control round follows with the lists vmkd writes on a quiet
//    phone, where top-app holds CPUs that background does not.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "burst_follow.h"
#include "frame_runs.h"
#include "phone_setup.h"
#include "sandbox.h"
#include "scaling.h"

namespace {

constexpr const char* programs = "/vmk/bench";
constexpr const char* contest_cpus = "0";

bool enter_group(const char* group, pid_t pid) {
  return sandbox::write_file(std::string("/dev/cpuset/") + group + "/cgroup.procs", std::to_string(pid));
}

// The units whose frames take 60 % of the contested CPU when the app runs
// there alone. An emulated CPU runs the frame loop (a wake-up and a timer
// each frame) slower than the calibration's tight loop, so the calibration's
// units are scaled by the share they take, twice.
long units_for_sixty_percent(long units) {
  for (int step = 0; step < 2; ++step) {
    const pid_t app =
        sandbox::start_command(std::string(programs) + "/frame_app",
                               {frame_runs::focused_package, std::to_string(units), "0", "5"}, "/dev/null");
    enter_group("top-app", app);
    usleep(1000000);
    const long before = sandbox::ticks_with_children(app);
    usleep(3000000);
    const double share = static_cast<double>(sandbox::ticks_with_children(app) - before) / (3.0 * sysconf(_SC_CLK_TCK));
    waitpid(app, nullptr, 0);
    fprintf(stderr, "  %ld units take %.0f %% of the CPU alone\n", units, share * 100);
    if (share > 0) units = static_cast<long>(static_cast<double>(units) * 0.6 / share);
  }
  return units;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3, bursts = 7;
  double warmup_s = 15, measure_s = 20;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--quick") == 0) {
      rounds = 1;
      bursts = 3;
      warmup_s = 6;
      measure_s = 6;
    } else if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, atoi(argv[++i]));
    } else {
      fprintf(stderr, "usage: %s [--quick] [--rounds N]\n", argv[0]);
      return 2;
    }
  }
  if (!phone::on_throwaway_phone()) {
    fprintf(stderr,
            "phone_bench: not on the throwaway virtual phone (tools/phone_vm/phone-vm.sh --bench): nothing run\n");
    return 2;
  }
  if (!phone::become_phone()) return 3;

  printf("== How fast vmkd follows a burst\n");
  fflush(stdout);
  burst_follow::plan b;
  b.vmkd = phone::vmkd;
  b.burner = std::string(programs) + "/burner";
  b.bursts = bursts;
  b.enter_top_app = [] { enter_group("top-app", getpid()); };
  burst_follow::print(burst_follow::follow(b), "virtual phone", stdout);

  printf("\n== What the daemons do for the phone\n");
  fflush(stdout);
  for (const char* group : {"top-app", "background"})
    if (!sandbox::write_file(std::string("/dev/cpuset/") + group + "/cpus", contest_cpus)) {
      fprintf(stderr, "phone_bench: cannot narrow %s to CPU %s\n", group, contest_cpus);
      return 1;
    }
  frame_runs::plan p;
  p.programs = programs;
  p.calmd = phone::calmd;
  p.rounds = rounds;
  p.warmup_s = warmup_s;
  p.measure_s = measure_s;
  const long calibrated = frame_runs::calibrate(programs);
  p.units = units_for_sixty_percent(calibrated);
  p.place_app = [](pid_t pid) { enter_group("top-app", pid); };
  p.place_background = [](pid_t pid) { enter_group("background", pid); };
  sandbox::set_focused_app(frame_runs::focused_package);
  printf(
      "The app in top-app, the background in background, both groups on CPU %s alone; a frame's work %ld units "
      "(60 %% of the CPU for the app alone; the calibration's 10 ms of CPU: %ld); %i round(s) of %.0f s warm-up and "
      "%.0f s measured per setting\n\n",
      contest_cpus, p.units, calibrated, rounds, warmup_s, measure_s);
  fflush(stdout);
  char* runs_text = nullptr;
  size_t runs_size = 0;
  FILE* data = open_memstream(&runs_text, &runs_size);
  if (data == nullptr) return 1;
  frame_runs::run_settings(p, data);
  fclose(data);
  // The runs, one line each; the distributions stay here.
  printf(
      "\nevery run: setting round late_share p95_ms p99_ms fps app_cpu background_cpu calmd_cpu applier_cpu "
      "main_nice worker_nice\n");
  for (const char* at = runs_text; at != nullptr && *at != '\0';) {
    const char* end = strchr(at, '\n');
    const size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
    if (strncmp(at, "run ", 4) == 0) printf("%.*s\n", static_cast<int>(length), at);
    at = end != nullptr ? end + 1 : nullptr;
  }
  free(runs_text);

  // The control: the groups' own lists, as vmkd writes them on a quiet phone.
  printf("\n== The same with vmkd's quiet lists (top-app %s, background %s), one short round\n",
         band_setting(1).cpus[0], band_setting(1).cpus[6]);
  fflush(stdout);
  if (!sandbox::write_file("/dev/cpuset/top-app/cpus", band_setting(1).cpus[0]) ||
      !sandbox::write_file("/dev/cpuset/background/cpus", band_setting(1).cpus[6]))
    return 1;
  frame_runs::plan control = p;
  control.rounds = 1;
  control.warmup_s = control.measure_s = 6;
  FILE* nowhere = fopen("/dev/null", "w");
  if (nowhere == nullptr) return 1;
  frame_runs::run_settings(control, nowhere);
  fclose(nowhere);
  return 0;
}
