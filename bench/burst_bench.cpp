// How fast vmkd's load-driven scaling follows a burst in the device sandbox
// (burst_follow.h), to hold beside the same on the virtual phone
// (tools/bench.sh --phone): the sandbox's cpusets and cpufreq files are plain
// files, its load the host's two cores. The host's I/O wait (other work's
// disk writes) would make every cycle vmkd's busy one, so the sandbox's
// /proc/stat, rewritten every 5 ms from the real one, counts it as idle.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "burst_follow.h"
#include "sandbox.h"

namespace {

// The text of /proc/stat with each cpu line's I/O wait (its fifth number)
// added to its idle time (the fourth).
std::string without_iowait(const std::string& stat) {
  std::istringstream in(stat);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 3, "cpu") == 0) {
      std::istringstream fields(line);
      std::string name;
      unsigned long long n[10] = {};
      fields >> name;
      int count = 0;
      while (count < 10 && fields >> n[count]) ++count;
      if (count >= 5) {
        n[3] += n[4];
        n[4] = 0;
        char text[512];
        int at = snprintf(text, sizeof text, "%s", name.c_str());
        for (int i = 0; i < count && at < static_cast<int>(sizeof text); ++i)
          at += snprintf(text + at, sizeof text - static_cast<size_t>(at), " %llu", n[i]);
        line = text;
      }
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  burst_follow::plan p;
  p.vmkd = VMKD_BINARY;
  p.burner = VMK_BENCH_DIR "/burner";
  p.bursts = 7;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--quick") == 0) {
      p.bursts = 3;
    } else {
      fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
      return 2;
    }
  }
  sandbox::options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  o.fake_stat = true;
  o.timeout_seconds = 300 + p.bursts * 100;
  const int status = sandbox::run(o, [&] {
    const pid_t feeder = fork();
    if (feeder == 0)
      for (;;) {
        sandbox::set_proc_stat(without_iowait(sandbox::real_proc_stat()));
        usleep(5000);
      }
    burst_follow::print(burst_follow::follow(p), "device sandbox", stdout);
    kill(feeder, SIGKILL);
    waitpid(feeder, nullptr, 0);
    return 0;
  });
  if (status != 0) fprintf(stderr, "burst benchmark failed (status %i)\n", status);
  return status == 0 ? 0 : 1;
}
