// The runs of the benefit benchmarks, in the device sandbox (benefit_bench)
// and on the virtual phone (phone_bench): a frame loop (frame_app) beside
// busy background processes (burner) in two shapes, single-threaded and
// app-like (the main thread waits while 2 to 4 workers spin), each with no
// daemon, with calmd, and with calmd and vmkd's nice applier. Settings
// alternate within each round, in an order that turns from round to round,
// so that drift on the machine cancels.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>

namespace frame_runs {

inline constexpr const char* focused_package = "com.example.game";

struct plan {
  std::string programs;  // the folder of frame_app, burner and nice_applier_loop
  std::string calmd;
  int rounds = 3;
  double warmup_s = 15, measure_s = 20;
  long units = 0;  // a frame's work
  // Where a process goes once started, with all its threads: the sandbox
  // pins everything beforehand; the phone moves them into cpuset groups.
  std::function<void(pid_t)> place_app = [](pid_t) {};
  std::function<void(pid_t)> place_background = [](pid_t) {};
};

// The work units that take 10 ms of CPU here: the most of three tries, so
// that a frame's work is at least that.
long calibrate(const std::string& programs);

// Runs every setting for the rounds (each run on standard error as it ends),
// prints the two tables on standard output, and writes for the files a
// "run ..." line per run, then the lateness distribution of each setting and
// an "xmax ..." line, to data.
void run_settings(const plan& p, FILE* data);

}  // namespace frame_runs
