// The focused app of the benefit benchmark: a frame loop that, at each
// 60 Hz vsync, needs a fixed amount of CPU work done within the frame.
//
//   frame_app --calibrate          prints the work units that take 10 ms of CPU
//   frame_app UNITS WARMUP_S MEASURE_S
//
// Runs for WARMUP_S + MEASURE_S seconds and prints, for the frames that start
// in the last MEASURE_S seconds, "vsyncs N" and then one line per frame: its
// lateness in microseconds (how far past its 16.7 ms it finished, 0 when on
// time). Like an app's choreographer, a late frame makes the next one wait for
// the first vsync after it, so missed vsyncs are lost, not caught up.
// argv[0] is the app's command line (the package), as on a phone.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t frame_ns = 16666667;

int64_t now_ns(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

volatile uint64_t sink;  // keeps the work from being optimized away

void work(long units) {
  uint64_t x = 88172645463325252ULL;
  for (long i = 0; i < units; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
  }
  sink = x;
}

// The fastest of several tries, in the thread's own CPU time, so that other
// load on the machine does not make a frame's work smaller.
long calibrate() {
  constexpr long trial = 4000000;
  int64_t best = INT64_MAX;
  for (int i = 0; i < 9; ++i) {
    const int64_t start = now_ns(CLOCK_THREAD_CPUTIME_ID);
    work(trial);
    const int64_t spent = now_ns(CLOCK_THREAD_CPUTIME_ID) - start;
    if (spent > 0 && spent < best) best = spent;
  }
  return static_cast<long>(static_cast<double>(trial) * 10000000.0 / static_cast<double>(best));
}

void sleep_until(int64_t when) {
  const timespec ts = {static_cast<time_t>(when / 1000000000), static_cast<long>(when % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--calibrate") == 0) {
    printf("%ld\n", calibrate());
    return 0;
  }
  if (argc != 4) {
    fprintf(stderr, "usage: %s --calibrate | UNITS WARMUP_S MEASURE_S\n", argv[0]);
    return 2;
  }
  const long units = atol(argv[1]);
  const int64_t t0 = now_ns(CLOCK_MONOTONIC);
  const int64_t measure_from = t0 + static_cast<int64_t>(atof(argv[2]) * 1e9);
  const int64_t end = measure_from + static_cast<int64_t>(atof(argv[3]) * 1e9);
  std::vector<int64_t> lateness_us;
  lateness_us.reserve(static_cast<size_t>((end - measure_from) / frame_ns + 1));
  for (int64_t vsync = t0; vsync < end;) {
    sleep_until(vsync);
    work(units);
    const int64_t finish = now_ns(CLOCK_MONOTONIC);
    const int64_t late = finish - (vsync + frame_ns);
    if (vsync >= measure_from) lateness_us.push_back(late > 0 ? late / 1000 : 0);
    // The next vsync at or after the finish.
    vsync = late <= 0 ? vsync + frame_ns : t0 + ((finish - t0 + frame_ns - 1) / frame_ns) * frame_ns;
  }
  printf("vsyncs %lld\n", static_cast<long long>((end - measure_from) / frame_ns));
  for (const int64_t late : lateness_us) printf("%lld\n", static_cast<long long>(late));
  return 0;
}
