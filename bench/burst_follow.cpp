#include "burst_follow.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sandbox.h"
#include "scaling.h"

namespace burst_follow {
namespace {

constexpr const char* params = "/data/media/0/vmk_params";
const std::string setprop_log = std::string(sandbox::control_dir) + "/setprop.log";
constexpr const char* top_app_file = "/dev/cpuset/top-app/cpus";
constexpr int poll_us = 5000;

double now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct setting_seen {
  std::string top_app, policy4;
  bool operator==(const setting_seen&) const = default;
};

setting_seen current() {
  return {trimmed(sandbox::read_file(top_app_file)), trimmed(sandbox::read_file(policy4_max_file))};
}

// The scaling cycles so far: one line in the setprop log each, read from
// where the last look ended.
struct cycle_watch {
  off_t offset = 0;
  int cycles = 0;
  double last_ms = NAN;

  // Counts the lines added since the last look; the interval from the cycle
  // before goes to intervals, unless it began before the phase did.
  void look(std::vector<double>* intervals) {
    const int fd = open(setprop_log.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[4096];
    int lines = 0;
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n)
      lines += static_cast<int>(std::count(buffer, buffer + n, '\n'));
    close(fd);
    if (lines == 0) return;
    const double now = now_ms();
    if (intervals != nullptr && !std::isnan(last_ms)) intervals->push_back((now - last_ms) / lines);
    last_ms = now;
    cycles += lines;
  }
  void new_phase() { last_ms = NAN; }
};

// Polls until done() holds or timeout_ms pass; false on the time-out.
template <typename Done>
bool poll_until(cycle_watch& w, std::vector<double>* intervals, double timeout_ms, Done done) {
  const double end = now_ms() + timeout_ms;
  for (;;) {
    w.look(intervals);
    if (done()) return true;
    if (now_ms() > end) return false;
    usleep(poll_us);
  }
}

// Waits at least min_ms, until the setting has stayed the same for eight
// cycles in a row and is not the burst's (at most a minute more); returns it.
setting_seen settle(cycle_watch& w, std::vector<double>* intervals, double min_ms, const setting_seen& busy) {
  w.new_phase();
  const double start = now_ms();
  setting_seen last = current();
  int same_from = w.cycles;
  poll_until(w, intervals, min_ms + 60000, [&] {
    const setting_seen now = current();
    if (!(now == last)) {
      last = now;
      same_from = w.cycles;
    }
    return now_ms() - start >= min_ms && w.cycles - same_from >= 8 && !(now == busy);
  });
  return last;
}

// 0 to 1000 ms.
double random_ms() { return static_cast<double>(random() % 1000); }

pid_t start_burst(const plan& p) {
  const pid_t pid = fork();
  if (pid == 0) {
    p.enter_top_app();
    setenv("BURN_WORKERS", "8", 1);
    execl(p.burner.c_str(), "com.example.burst", nullptr);
    _exit(127);
  }
  return pid;
}

void stop_vmkd(const std::string& vmkd, pid_t main) {
  for (int round = 0; round < 3; ++round)
    for (pid_t pid : sandbox::pids_of_program(vmkd)) kill(pid, SIGKILL);
  waitpid(main, nullptr, 0);
  sandbox::wait_for([&] { return sandbox::pids_of_program(vmkd).empty(); }, 5000);
}

double median(std::vector<double> v) {
  std::erase_if(v, [](double x) { return std::isnan(x); });
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// "median [lowest-highest]", with how many did not come when some did not.
std::string spread(const std::vector<double>& all, int decimals) {
  std::vector<double> v = all;
  std::erase_if(v, [](double x) { return std::isnan(x); });
  if (v.empty()) return "-";
  char text[96];
  const auto [low, high] = std::minmax_element(v.begin(), v.end());
  int n = snprintf(text, sizeof text, "%.*f [%.*f-%.*f]", decimals, median(v), decimals, *low, decimals, *high);
  if (v.size() < all.size()) snprintf(text + n, sizeof text - n, " (%zu never)", all.size() - v.size());
  return text;
}

}  // namespace

figures follow(const plan& p) {
  figures f;
  const scaling_setting& band8 = band_setting(8);
  const setting_seen busy = {band8.cpus[0], std::to_string(band8.policy4_max)};
  mkdir("/data/media/0", 0771);
  mkdir(params, 0777);
  sandbox::write_file(std::string(params) + "/cur_profile", "0\n");
  srandom(static_cast<unsigned>(now_ms()));
  cycle_watch w;
  w.look(nullptr);  // what was logged before vmkd started
  w.cycles = 0;
  const pid_t vmkd = sandbox::start_command(p.vmkd, {p.vmkd}, std::string(sandbox::control_dir) + "/vmkd.out");
  const setting_seen quiet = settle(w, &f.quiet_cycle_ms, p.quiet_s * 1000, busy);
  f.quiet_top_app = quiet.top_app;
  f.quiet_policy4 = quiet.policy4;
  if (quiet == busy) fprintf(stderr, "  the quiet setting is the burst's: no bursts\n");
  for (int burst = 0; burst < p.bursts && !(quiet == busy); ++burst) {
    if (burst > 0) settle(w, &f.quiet_cycle_ms, p.quiet_s * 1000, busy);
    // Bursts start and end at any point of a cycle, not where a wait for a
    // cycle left off: a random part of a second more, each time.
    poll_until(w, &f.quiet_cycle_ms, random_ms(), [] { return false; });
    double start = now_ms();
    int from = w.cycles;
    const pid_t burner = start_burst(p);
    const bool up = poll_until(w, nullptr, 30000, [&] { return current() == busy; });
    f.up_ms.push_back(up ? now_ms() - start : NAN);
    f.up_cycles.push_back(up ? w.cycles - from : NAN);
    w.new_phase();
    poll_until(w, &f.busy_cycle_ms, p.hold_s * 1000 + random_ms(), [] { return false; });
    start = now_ms();
    from = w.cycles;
    kill(burner, SIGKILL);
    waitpid(burner, nullptr, 0);
    const bool down = poll_until(w, nullptr, 30000, [&] { return current() == quiet; });
    f.down_ms.push_back(down ? now_ms() - start : NAN);
    f.down_cycles.push_back(down ? w.cycles - from : NAN);
    fprintf(stderr, "  burst %i: up %.0f ms (%.0f cycles), down %.0f ms (%.0f cycles)\n", burst + 1, f.up_ms.back(),
            f.up_cycles.back(), f.down_ms.back(), f.down_cycles.back());
  }
  stop_vmkd(p.vmkd, vmkd);
  sandbox::write_file(std::string(params) + "/cur_profile", "2\n");
  return f;
}

void print(const figures& f, const char* where, FILE* out) {
  char up[64];
  snprintf(up, sizeof up, "up: to top-app %s, policy4 max %i", band_setting(8).cpus[0], band_setting(8).policy4_max);
  const std::string quiet = "top-app " + f.quiet_top_app + ", policy4 max " + f.quiet_policy4;
  fprintf(out, "%s: %zu bursts of 8 busy threads in top-app, vmkd at profile 0 (medians [range])\n", where,
          f.up_ms.size());
  fprintf(out, "  %-44s %s\n", "the quiet phone's setting", quiet.c_str());
  fprintf(out, "  %-44s %s ms, over %zu cycles\n", "scaling cycle, quiet", spread(f.quiet_cycle_ms, 0).c_str(),
          f.quiet_cycle_ms.size());
  fprintf(out, "  %-44s %s ms, over %zu cycles\n", "scaling cycle, the burst on CPUs 0-7",
          spread(f.busy_cycle_ms, 0).c_str(), f.busy_cycle_ms.size());
  fprintf(out, "  %-44s %s cycles, %s ms\n", up, spread(f.up_cycles, 0).c_str(), spread(f.up_ms, 0).c_str());
  fprintf(out, "  %-44s %s cycles, %s ms\n", "down: back to the quiet setting", spread(f.down_cycles, 0).c_str(),
          spread(f.down_ms, 0).c_str());
  fprintf(out,
          "  (a cycle: 100 ms load sample, the setprop command, the writes, 100 ms sleep; cycles: setprop calls from\n"
          "  the burst's start or end until the files showed the setting, polled every 5 ms)\n");
  fflush(out);
}

}  // namespace burst_follow
