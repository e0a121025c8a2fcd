// Runs one daemon's own pass or cycle in this process, so that its CPU time
// can be read without the sampling sleeps: the same code the daemons run.
// Prints one line per run: CPU time in microseconds (for "scaling": the
// cycle's own time, then the time of the shell commands it waited for).
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpu_clock.h"
#include "nice_applier.h"
#include "scaling_loop.h"
#include "shell.h"
#include "throttle.h"

namespace {

long children_us() {
  rusage use;
  getrusage(RUSAGE_CHILDREN, &use);
  return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1000000L + use.ru_utime.tv_usec + use.ru_stime.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s throttle|nice|scaling|setprop RUNS\n", argv[0]);
    return 2;
  }
  const char* what = argv[1];
  scaling_state state;
  pass_state pass;
  for (int run = atoi(argv[2]); run > 0; --run) {
    const long children = children_us();
    const long start = cpu_ns();
    if (strcmp(what, "throttle") == 0)
      throttle_pass(pass);
    else if (strcmp(what, "nice") == 0)
      nice_applier_pass();
    else if (strcmp(what, "scaling") == 0)
      scaling_cycle(state);
    else
      run_shell("setprop persist.vmk.profile.reapply 0");
    const double own = static_cast<double>(cpu_ns() - start) / 1000.0;
    printf("%.1f %ld\n", own, children_us() - children);
  }
  return 0;
}
