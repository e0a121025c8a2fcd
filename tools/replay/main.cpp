// Replays a recorded load trace through the real vmkd and calmd in the device
// sandbox and explains every decision they made.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "explain.h"
#include "feeder.h"
#include "report.h"
#include "safe_text.h"
#include "sandbox.h"
#include "trace_model.h"

namespace {

constexpr const char* usage =
    "usage: replay TRACE [--profile N] [--params DIR] [--android 9|13] [--out DIR] [--cores X] [--full]\n"
    "  Runs vmkd and calmd in the device sandbox, fed with the recorded load, and explains every\n"
    "  decision. Profile 0 (default) is load-driven scaling; --params copies parameter files\n"
    "  (cur_profile, ram.*, sched.*) in first. --cores is what the stand-in processes may burn\n"
    "  together here (default three quarters of this machine's CPUs). Writes report.txt,\n"
    "  timeline.png, timeline.svg and timeline.json to DIR (default build/replay/<trace name>).\n"
    "  Exit status: 0; 1 when a decision disagrees with the daemon's own table; 2 on bad\n"
    "  arguments or a malformed trace (nothing is started then); 3 when the replay could not run.\n";

std::string read_all(int fd) {
  std::string text;
  char buffer[65536];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  return text;
}

bool make_dirs(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at)
    if (at == path.size() || path[at] == '/') mkdir(path.substr(0, at).c_str(), 0755);
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  std::string trace_path, params_dir, out_dir;
  int profile = -1, android = 13;
  double cores = static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN)) * 0.75;
  bool full = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--profile" && has_value) {
      profile = atoi(argv[++i]);
    } else if (a == "--params" && has_value) {
      params_dir = argv[++i];
    } else if (a == "--android" && has_value) {
      android = atoi(argv[++i]);
      if (android != 9 && android != 13) {
        fprintf(stderr, "replay: --android takes 9 or 13\n");
        return 2;
      }
    } else if (a == "--out" && has_value) {
      out_dir = argv[++i];
    } else if (a == "--cores" && has_value) {
      cores = atof(argv[++i]);
    } else if (a == "--full") {
      full = true;
    } else if (a.size() > 1 && a[0] == '-') {
      fprintf(stderr, "replay: unknown option %s\n%s", replay::shown(a).c_str(), usage);
      return 2;
    } else if (trace_path.empty()) {
      trace_path = a;
    } else {
      fprintf(stderr, "replay: one trace at a time\n%s", usage);
      return 2;
    }
  }
  if (trace_path.empty() || cores <= 0) {
    fputs(usage, stderr);
    return 2;
  }
  replay::trace_model model;
  std::string error;
  if (!replay::load_trace(trace_path, &model, &error)) {
    fprintf(stderr, "replay: %s\nreplay: nothing was started\n", replay::shown(error).c_str());
    return 2;
  }

  replay::feed_settings settings;
  if (!params_dir.empty()) {
    DIR* dir = opendir(params_dir.c_str());
    if (dir == nullptr) {
      fprintf(stderr, "replay: cannot read the parameter folder %s\n", replay::shown(params_dir).c_str());
      return 2;
    }
    while (dirent* e = readdir(dir)) {
      std::ifstream in(params_dir + "/" + e->d_name);
      if (e->d_name[0] == '.' || !in) continue;
      std::stringstream text;
      text << in.rdbuf();
      settings.params[e->d_name] = text.str();
    }
    closedir(dir);
  }
  if (profile < 0) profile = settings.params.count("cur_profile") ? atoi(settings.params["cur_profile"].c_str()) : 0;
  settings.profile = profile;
  settings.model = &model;
  settings.vmkd = sandbox::environment_or("VMKD_BINARY", VMKD_BINARY);
  settings.calmd = sandbox::environment_or("CALMD_BINARY", CALMD_BINARY);
  settings.sb_proc = SB_PROC_BINARY;
  settings.emulator = sandbox::environment_or("VMK_EMULATOR", "");
  settings.cores = cores;
  if (out_dir.empty()) {
    // Named after the trace file, whatever bytes its name holds.
    std::string name = trace_path.substr(trace_path.rfind('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) name.resize(name.size() - 4);
    out_dir = std::string(VMK_BUILD_DIR) + "/replay/" + replay::folder_name(name);
  }
  if (!make_dirs(out_dir)) {
    fprintf(stderr, "replay: cannot make %s\n", replay::shown(out_dir).c_str());
    return 2;
  }

  // The records come back through a memory file: nothing inside the sandbox
  // can write to the host's folders.
  const int log = memfd_create("replay-records", MFD_CLOEXEC);
  if (log < 0) return 3;
  settings.log_fd = log;
  sandbox::options o;
  o.fake_stat = true;
  o.fake_loadavg = true;
  o.android = android;
  o.read_only_binds = sandbox::program_binds(VMK_BUILD_DIR, {settings.vmkd, settings.calmd});
  o.timeout_seconds = static_cast<int>(model.duration_ms / 1000) + 120;  // bounded by the reader's limits
  printf("Replaying %s: %.1f s, %zu processes, profile %i, through vmkd and calmd in the sandbox...\n",
         replay::shown(trace_path).c_str(), static_cast<double>(model.duration_ms) / 1000, model.processes.size(),
         profile);
  fflush(stdout);
  const int status = sandbox::run(o, [&] { return replay::feed(settings); });
  if (status != 0) {
    fprintf(stderr, "replay: the sandboxed replay failed (status %i)\n", status);
    return 3;
  }
  const replay::replay_result result = replay::explain(model, read_all(log), profile);
  const replay::report_facts facts = {trace_path, profile, android, cores};
  {
    std::ofstream report(out_dir + "/report.txt");
    replay::write_report(report, model, result, facts, true);
    std::ofstream events(out_dir + "/timeline.json");
    replay::write_trace_events(events, model, result);
  }
  replay::write_report(std::cout, model, result, facts, full);
  std::string picture_error;
  const bool drawn = replay::draw_timeline(out_dir, model, result, &picture_error);
  const std::string dir_shown = replay::shown(out_dir);
  std::cout << "\nFull report: " << dir_shown << "/report.txt\nTimeline: " << dir_shown << "/timeline.png, "
            << dir_shown << "/timeline.svg\nTrace events (Perfetto UI, chrome://tracing): " << dir_shown
            << "/timeline.json\n";
  if (!drawn) std::cout << "replay: " << picture_error << "\n";
  if (result.cycles.empty()) {
    std::cout << "replay: no scaling cycle was seen\n";
    return 1;
  }
  return result.disagreements > 0 || result.unexplained > 0 ? 1 : 0;
}
