#include "frame_runs.h"

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sandbox.h"

namespace frame_runs {
namespace {

using namespace sandbox;

constexpr double frame_ms = 1000.0 / 60;

// The background: an ordinary app and two that vmkd's nice rules know
// (photos at nice 19, dex2oat at SCHED_IDLE), with their worker counts in the
// app-like shape.
struct background_process {
  const char* command_line;
  int workers;
};
constexpr background_process background[] = {
    {"com.example.miner", 2},
    {"com.google.android.apps.photos", 3},
    {"/system/bin/dex2oat", 4},
};

enum class load { none, single_threaded, app_like };
enum class daemons { none, calmd, calmd_and_nice_applier };

struct setting {
  load shape;
  daemons run;
};

const char* daemons_of(const setting& s) {
  return s.run == daemons::none ? "no daemon" : s.run == daemons::calmd ? "calmd" : "calmd + nice applier";
}

std::string name_of(const setting& s) {
  const char* shape = s.shape == load::none              ? "no background"
                      : s.shape == load::single_threaded ? "single-threaded"
                                                         : "app-like";
  return std::string(shape) + ", " + daemons_of(s);
}

struct run_figures {
  std::vector<double> lateness_ms;  // one per frame of the measured window
  double late_share = 0, p95_ms = 0, p99_ms = 0, fps = 0;
  double app_cpu = 0, background_cpu = 0, calmd_cpu = 0, applier_cpu = 0;  // shares of the one CPU
  double main_nice = NAN, worker_nice = NAN;                               // background threads at the end, means
  int main_idle = 0, worker_idle = 0, main_batch = 0, worker_batch = 0;    // threads by policy
};

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size() - 1, rank > 0 ? rank - 1 : 0)];
}

struct sample {
  long app = 0, background = 0, calmd = 0, applier = 0;
};

run_figures run_once(const plan& p, const setting& s) {
  const std::string programs = p.programs + "/";
  // The background first, each with all its threads, then the daemons: a
  // thread created after a daemon's change would inherit it, and whether it
  // did would be a race between the daemon's first pass and the start.
  std::vector<pid_t> busy;
  const std::string self = comm_of(getpid());  // a started child's name until it runs the program
  if (s.shape != load::none)
    for (const background_process& b : background) {
      const int workers = s.shape == load::app_like ? b.workers : 0;
      // The child takes the worker count with the environment.
      setenv("BURN_WORKERS", std::to_string(workers).c_str(), 1);
      const pid_t pid = start_command(programs + "burner", {b.command_line}, "/dev/null");
      wait_for([&] { return threads_of(pid).size() == static_cast<size_t>(workers + 1) && comm_of(pid) != self; },
               5000);
      p.place_background(pid);
      busy.push_back(pid);
    }
  unsetenv("BURN_WORKERS");
  pid_t calmd = 0, applier = 0;
  if (s.run != daemons::none) calmd = start_command(p.calmd, {p.calmd}, std::string(control_dir) + "/calmd.out");
  if (s.run == daemons::calmd_and_nice_applier)
    applier = start_command(programs + "nice_applier_loop", {"nice_applier_loop"}, "/dev/null");
  const std::string frames_file = "/tmp/frames.txt";
  unlink(frames_file.c_str());
  const pid_t app = start_command(
      programs + "frame_app",
      {focused_package, std::to_string(p.units), std::to_string(p.warmup_s), std::to_string(p.measure_s)}, frames_file);
  p.place_app(app);
  const auto take = [&] {
    sample t;
    t.app = ticks_with_children(app);
    for (pid_t pid : busy) t.background += ticks_with_children(pid);
    if (calmd > 0) t.calmd = ticks_with_children(calmd);
    if (applier > 0) t.applier = ticks_with_children(applier);
    return t;
  };
  usleep(static_cast<useconds_t>(p.warmup_s * 1e6));
  const sample before = take();
  usleep(static_cast<useconds_t>(p.measure_s * 1e6));
  const sample after = take();

  run_figures r;
  double main_sum = 0, worker_sum = 0;
  int mains = 0, workers = 0;
  for (pid_t pid : busy) {
    for (const thread_state& t : threads_of(pid)) {
      const bool main_thread = t.tid == pid;
      (main_thread ? main_sum : worker_sum) += static_cast<double>(t.nice);
      ++(main_thread ? mains : workers);
      if (t.policy == SCHED_IDLE) ++(main_thread ? r.main_idle : r.worker_idle);
      if (t.policy == SCHED_BATCH) ++(main_thread ? r.main_batch : r.worker_batch);
    }
  }
  if (mains > 0) r.main_nice = main_sum / mains;
  if (workers > 0) r.worker_nice = worker_sum / workers;

  int status;
  waitpid(app, &status, 0);
  for (pid_t pid : busy) stop(pid);
  if (calmd > 0) stop(calmd);
  if (applier > 0) stop(applier);

  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK)) * p.measure_s;
  r.app_cpu = static_cast<double>(after.app - before.app) / ticks;
  r.background_cpu = static_cast<double>(after.background - before.background) / ticks;
  r.calmd_cpu = static_cast<double>(after.calmd - before.calmd) / ticks;
  r.applier_cpu = static_cast<double>(after.applier - before.applier) / ticks;

  const std::string out = read_file(frames_file);
  long vsyncs = 0;
  if (sscanf(out.c_str(), "vsyncs %ld", &vsyncs) != 1 || vsyncs <= 0) {
    fprintf(stderr, "frame_app gave no figures (status %i): %s\n", status, out.c_str());
    return r;
  }
  for (const char* at = strchr(out.c_str(), '\n'); at != nullptr && at[1] != '\0'; at = strchr(at + 1, '\n'))
    r.lateness_ms.push_back(atof(at + 1) / 1000);
  std::vector<double> sorted = r.lateness_ms;
  std::sort(sorted.begin(), sorted.end());
  const auto late = std::count_if(sorted.begin(), sorted.end(), [](double ms) { return ms > 0; });
  r.late_share = sorted.empty() ? 0 : static_cast<double>(late) / static_cast<double>(sorted.size());
  r.p95_ms = percentile(sorted, 0.95);
  r.p99_ms = percentile(sorted, 0.99);
  r.fps = static_cast<double>(sorted.size()) / p.measure_s;
  fprintf(stderr, "  %-44s late %5.1f %%  p99 %6.1f ms  %4.1f fps  background %3.0f %%\n", name_of(s).c_str(),
          r.late_share * 100, r.p99_ms, r.fps, r.background_cpu * 100);
  return r;
}

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// "median [lowest-highest]" of one figure over the rounds.
std::string spread(const std::vector<run_figures>& runs, double run_figures::*figure, double scale, int decimals) {
  std::vector<double> v;
  for (const run_figures& r : runs)
    if (!std::isnan(r.*figure)) v.push_back(r.*figure * scale);
  if (v.empty()) return "-";
  char text[64];
  const double low = *std::min_element(v.begin(), v.end()), high = *std::max_element(v.begin(), v.end());
  if (v.size() == 1)
    snprintf(text, sizeof text, "%.*f", decimals, v[0]);
  else
    snprintf(text, sizeof text, "%.*f [%.*f-%.*f]", decimals, median(v), decimals, low, decimals, high);
  return text;
}

}  // namespace

long calibrate(const std::string& programs) {
  long units = 0;
  for (int i = 0; i < 3; ++i)
    units = std::max(units, atol(run_command(programs + "/frame_app", {"frame_app", "--calibrate"}).out.c_str()));
  return units;
}

void run_settings(const plan& p, FILE* data) {
  std::vector<setting> settings = {{load::none, daemons::none}};
  const daemons order[] = {daemons::none, daemons::calmd, daemons::calmd_and_nice_applier};
  for (load shape : {load::single_threaded, load::app_like})
    for (daemons run : order) settings.push_back({shape, run});
  std::vector<std::vector<run_figures>> results(settings.size());
  for (int round = 0; round < p.rounds; ++round) {
    fprintf(stderr, "round %i of %i\n", round + 1, p.rounds);
    results[0].push_back(run_once(p, settings[0]));
    for (size_t shape = 0; shape < 2; ++shape)
      for (size_t k = 0; k < 3; ++k) {
        const size_t index = 1 + shape * 3 + (k + static_cast<size_t>(round)) % 3;
        results[index].push_back(run_once(p, settings[index]));
      }
  }

  printf("%-42s %-20s %-22s %-22s %-18s\n", "setting (medians [range] over the rounds)", "frames late (%)",
         "95th pct lateness (ms)", "99th pct lateness (ms)", "frames/s (of 60)");
  for (size_t i = 0; i < settings.size(); ++i)
    printf("%-42s %-20s %-22s %-22s %-18s\n", name_of(settings[i]).c_str(),
           spread(results[i], &run_figures::late_share, 100, 1).c_str(),
           spread(results[i], &run_figures::p95_ms, 1, 1).c_str(),
           spread(results[i], &run_figures::p99_ms, 1, 1).c_str(), spread(results[i], &run_figures::fps, 1, 1).c_str());
  printf("\n%-42s %-15s %-15s %-15s %-15s %-13s %-13s\n", "setting (shares of the one CPU)", "app CPU (%)",
         "background (%)", "calmd (%)", "nice applier", "bg main nice", "bg workers");
  for (size_t i = 0; i < settings.size(); ++i) {
    const run_figures& last = results[i].back();
    char policies[2][32];
    snprintf(policies[0], sizeof policies[0], " %iB%iI", last.main_batch, last.main_idle);
    snprintf(policies[1], sizeof policies[1], " %iB%iI", last.worker_batch, last.worker_idle);
    printf(
        "%-42s %-15s %-15s %-15s %-15s %-13s %-13s\n", name_of(settings[i]).c_str(),
        spread(results[i], &run_figures::app_cpu, 100, 0).c_str(),
        spread(results[i], &run_figures::background_cpu, 100, 0).c_str(),
        settings[i].run == daemons::none ? "-" : spread(results[i], &run_figures::calmd_cpu, 100, 2).c_str(),
        settings[i].run != daemons::calmd_and_nice_applier
            ? "-"
            : spread(results[i], &run_figures::applier_cpu, 100, 2).c_str(),
        std::isnan(last.main_nice) ? "-" : (spread({last}, &run_figures::main_nice, 1, 1) + policies[0]).c_str(),
        std::isnan(last.worker_nice) ? "-" : (spread({last}, &run_figures::worker_nice, 1, 1) + policies[1]).c_str());
  }
  printf(
      "\nlateness: how far past its 16.7 ms a frame finished (0 when on time); bg main nice / bg workers: the mean "
      "nice of the background's main and worker threads at the end of the last round, with how many were in "
      "SCHED_BATCH (B) and SCHED_IDLE (I)\n");
  fflush(stdout);

  // Every run, then the lateness distribution of each setting over all its
  // rounds: the share of frames later than x, one block per setting.
  for (size_t i = 0; i < settings.size(); ++i)
    for (size_t round = 0; round < results[i].size(); ++round) {
      const run_figures& r = results[i][round];
      fprintf(data, "run \"%s\" %zu %.4f %.2f %.2f %.2f %.4f %.4f %.5f %.5f %.2f %.2f\n", name_of(settings[i]).c_str(),
              round + 1, r.late_share, r.p95_ms, r.p99_ms, r.fps, r.app_cpu, r.background_cpu, r.calmd_cpu,
              r.applier_cpu, r.main_nice, r.worker_nice);
    }
  double longest = 1;
  for (size_t i = 0; i < settings.size(); ++i) {
    std::vector<double> all;
    for (const run_figures& r : results[i]) all.insert(all.end(), r.lateness_ms.begin(), r.lateness_ms.end());
    std::sort(all.begin(), all.end());
    if (!all.empty()) longest = std::max(longest, all.back());
    fprintf(data, "\"%s\"\n", i == 0 ? "app alone" : daemons_of(settings[i]));
    const double n = static_cast<double>(all.size());
    for (size_t k = 0; k < all.size(); ++k)
      if (k + 1 == all.size() || all[k + 1] != all[k])
        fprintf(data, "%.3f %.6f\n", all[k], static_cast<double>(all.size() - k - 1) / n);
    fprintf(data, "\n\n");
  }
  fprintf(data, "xmax %.0f\n", longest * 1.05);
}

}  // namespace frame_runs
