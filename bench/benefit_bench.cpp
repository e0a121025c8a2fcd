// The benefit benchmark: what the daemons do for the focused app. In the
// device sandbox, with everything pinned to one CPU (a phone's busy cluster in
// small), the runs of frame_runs.h. Prints the figures as medians with their
// range over the rounds; writes the runs, the lateness distributions and a plot.
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_runs.h"
#include "sandbox.h"

namespace {

using namespace sandbox;

// The highest-numbered CPU this process may use: the one everything runs on.
int pin_to_one_cpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return -1;
  int cpu = -1;
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (CPU_ISSET(i, &set)) cpu = i;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

FILE* data = nullptr;  // figures for the files, handed to the host side

int bench(int rounds, double warmup_s, double measure_s) {
  const int cpu = pin_to_one_cpu();
  if (cpu < 0) {
    fprintf(stderr, "cannot pin to one CPU\n");
    return 1;
  }
  // A frame's work is then at least 10 ms of CPU, 60 % of the frame's 16.7 ms on one core.
  const long units = frame_runs::calibrate(VMK_BENCH_DIR);
  sandbox::set_focused_app(frame_runs::focused_package);
  printf(
      "Everything on CPU %i; a frame's work %ld units (10 ms of CPU); %i round(s) of %.0f s warm-up and %.0f s "
      "measured per setting\n\n",
      cpu, units, rounds, warmup_s, measure_s);
  fflush(stdout);

  frame_runs::plan p;
  p.programs = VMK_BENCH_DIR;
  p.calmd = CALMD_BINARY;
  p.rounds = rounds;
  p.warmup_s = warmup_s;
  p.measure_s = measure_s;
  p.units = units;
  frame_runs::run_settings(p, data);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_dir = "build/bench-results";
  int rounds = 3;
  double warmup_s = 15, measure_s = 20;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--out") == 0 && i + 1 < argc)
      out_dir = argv[++i];
    else if (strcmp(argv[i], "--quick") == 0) {
      rounds = 1;
      warmup_s = 6;
      measure_s = 6;
    } else if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
      rounds = std::max(1, atoi(argv[++i]));
    else {
      fprintf(stderr, "usage: %s [--quick] [--rounds N] [--out DIR]\n", argv[0]);
      return 2;
    }
  }
  options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  o.timeout_seconds = 600 + static_cast<int>(rounds * 7 * (warmup_s + measure_s + 5));
  std::string text;
  const int status = run_reporting(
      o,
      [&](FILE* out) {
        data = out;
        return bench(rounds, warmup_s, measure_s);
      },
      &text);
  if (status != 0) {
    fprintf(stderr, "benchmark failed (status %i)\n", status);
    return 1;
  }
  mkdir(out_dir.c_str(), 0755);
  FILE* runs = fopen((out_dir + "/benefit_runs.dat").c_str(), "w");
  FILE* lateness = fopen((out_dir + "/benefit_lateness.dat").c_str(), "w");
  if (runs == nullptr || lateness == nullptr) return 1;
  fprintf(runs,
          "# setting round late_share p95_ms p99_ms fps app_cpu background_cpu calmd_cpu applier_cpu main_nice "
          "worker_nice\n");
  fprintf(lateness, "# per setting: lateness_ms share_of_frames_later\n");
  std::string xmax = "*";
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
    if (line.compare(0, 4, "run ") == 0)
      fputs(line.c_str() + 4, runs);
    else if (line.compare(0, 5, "xmax ") == 0)
      xmax = line.substr(5, line.find('\n') - 5);
    else
      fputs(line.c_str(), lateness);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  fclose(runs);
  fclose(lateness);
  // Blocks 0 (no background), 1-3 (single-threaded), 4-6 (app-like).
  const std::string plot =
      "set terminal png size 1100,480; set output 'benefit_lateness.png';"
      "set multiplot layout 1,2 title 'Frames of the focused app later than x (one CPU, 3 busy background "
      "processes)';"
      "set xlabel 'lateness past the 16.7 ms frame (ms)'; set ylabel 'share of frames'; set logscale y;"
      "set yrange [0.0005:1]; set xrange [0:" +
      xmax +
      "]; set grid; set key top right;"
      "set title 'single-threaded background';"
      "plot for [i=1:3] 'benefit_lateness.dat' index i u 1:($2 > 0 ? $2 : 1/0) w steps lw 2 t columnheader(1),"
      " '' index 0 u 1:($2 > 0 ? $2 : 1/0) w steps dt 2 lc 'black' t columnheader(1);"
      "set title 'app-like background (main thread waits, workers burn)';"
      "plot for [i=4:6] 'benefit_lateness.dat' index i u 1:($2 > 0 ? $2 : 1/0) w steps lw 2 t columnheader(1),"
      " '' index 0 u 1:($2 > 0 ? $2 : 1/0) w steps dt 2 lc 'black' t columnheader(1);"
      "unset multiplot";
  FILE* g = fopen((out_dir + "/benefit_lateness.gnuplot").c_str(), "w");
  if (g == nullptr) return 1;
  fprintf(g, "%s\n", plot.c_str());
  fclose(g);
  if (sandbox::run_command_in(out_dir, "gnuplot", {"gnuplot", "benefit_lateness.gnuplot"}, 60000).status == 0)
    printf("\nplot: %s/benefit_lateness.png\n", out_dir.c_str());
  return 0;
}
