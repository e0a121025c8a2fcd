// Makes and trims load traces.
//
//   trace_tool generate          a trace that walks through all eight load bands
//                                and every rule of vmkd's scaling, on a simulated
//                                eight-CPU phone (written to standard output)
//   trace_tool keep-tree PID     copies a trace from standard input, keeping the
//                                process rows of PID and its descendants only
//                                (the rest of a recording machine stays private)
//
// The generated phone: 8 CPUs, "ctxt" at byte 2325 of /proc/stat, samples every
// 50 ms, processes every second. Segments of 3 s, each holding one situation:
//   1-8   CPU load at the middle of band 1 to 8, all else quiet (band 8 is busy: c > 86)
//   9-13  busy by each other test: touch, r = 9, I/O wait 100 ticks/s, g = 50, L = 12.5
//   14    raise: L = 9 in band 2
//   15-17 activity: r = 6 in band 5, g = 20 in band 2, L = 7 in band 1
//   18    quiet again, the launcher focused
// Processes: a focused game (busy), a busy background sync app, dex2oat, logd and
// surfaceflinger, under zygote64 or init, so calmd and the nice applier act too.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "trace_format.h"

namespace {

struct segment {
  int load;  // percent of all eight CPUs, user and system time
  int touch, runnable, iowait_per_s, gpu;
  const char* load_avg;
};

constexpr segment segments[] = {
    {8, 0, 1, 0, 3, "1.10"},  {25, 0, 2, 0, 5, "1.50"},  {38, 0, 2, 0, 5, "2.00"},  {52, 0, 3, 0, 8, "2.50"},
    {65, 0, 3, 0, 8, "3.00"}, {74, 0, 4, 0, 10, "3.50"}, {82, 0, 4, 0, 10, "4.00"}, {95, 0, 4, 0, 12, "4.50"},
    {8, 1, 1, 0, 3, "3.00"},  {8, 0, 9, 0, 3, "3.00"},   {8, 0, 1, 100, 3, "3.00"}, {8, 0, 1, 0, 50, "3.00"},
    {8, 0, 1, 0, 3, "12.50"}, {25, 0, 2, 0, 5, "9.00"},  {65, 0, 6, 0, 5, "5.00"},  {25, 0, 2, 0, 20, "5.00"},
    {8, 0, 1, 0, 3, "7.00"},  {8, 0, 1, 0, 3, "5.00"},
};
constexpr int segment_ms = 3000;

struct process {
  int pid, ppid;
  const char* comm;
  const char* cmdline;
  int nice, policy;
  double share;            // of one core while it is busy
  int busy_from, busy_to;  // segments
};

// Command lines as the trace holds them: arguments joined by blanks, with the final NUL as a blank.
constexpr process processes[] = {
    {612, 1, "surfaceflinger", "/system/bin/surfaceflinger ", -8, 0, 0.15, 0, 18},
    {650, 1, "main", "zygote64 ", -20, 0, 0.0, 0, 0},
    {700, 1, "logd", "/system/bin/logd ", 0, 0, 0.05, 0, 18},
    {1500, 650, "com.example.game", "com.example.game ", 0, 0, 0.5, 3, 9},
    {1800, 650, "example.sync", "com.example.sync ", 0, 0, 0.5, 0, 18},
    {1900, 1800, "dex2oat", "/system/bin/dex2oat --zip-fd=6 --oat-fd=7 ", 0, 0, 0.3, 4, 12},
    {1400, 650, "droid.launcher3", "com.android.launcher3 ", 0, 0, 0.05, 17, 18},
};

int generate() {
  trace::header h = trace::default_header();
  h.cpus = 8;
  h.ctxt_at = 2325;
  char text[4096];
  trace::format_header(h, text, sizeof text);
  fputs(text, stdout);
  const int count = static_cast<int>(sizeof segments / sizeof segments[0]);
  const int end_ms = count * segment_ms;
  // Counters start as after an hour of uptime.
  double user = 900000, system = 300000, idle = 1600000, iowait = 20000, irq = 4000, softirq = 6000;
  double ctxt = 50000000;
  std::map<int, double> ticks;  // per process, own CPU time so far
  std::map<int, std::string> last_row;
  for (int t = 0; t <= end_ms; t += h.period_ms) {
    const segment& s = segments[std::min(t / segment_ms, count - 1)];
    if (t % h.processes_every_ms == 0) {
      for (const process& p : processes) {
        trace::process_row r;
        r.time_ms = t;
        r.pid = p.pid;
        r.ppid = p.ppid;
        strcpy(r.comm, p.comm);
        strcpy(r.cmdline, p.cmdline);
        const long long own = static_cast<long long>(ticks[p.pid]);
        r.utime = own * 4 / 5;
        r.stime = own - r.utime;
        r.nice = p.nice;
        r.policy = p.policy;
        trace::format_process_row(r, text, sizeof text);
        // Unchanged processes are not written again (the time is not compared).
        const std::string key = strchr(strchr(text, '\t') + 1, '\t');
        if (last_row[p.pid] != key) fputs(text, stdout);
        last_row[p.pid] = key;
      }
    }
    trace::system_row r;
    r.time_ms = t;
    const unsigned long long cpu[] = {static_cast<unsigned long long>(user),    200,
                                      static_cast<unsigned long long>(system),  static_cast<unsigned long long>(idle),
                                      static_cast<unsigned long long>(iowait),  static_cast<unsigned long long>(irq),
                                      static_cast<unsigned long long>(softirq), 0};
    memcpy(r.cpu, cpu, sizeof cpu);
    r.ctxt = static_cast<unsigned long long>(ctxt);
    snprintf(r.load[0], sizeof r.load[0], "%s", s.load_avg);
    snprintf(r.load[1], sizeof r.load[1], "%s", "2.00");
    snprintf(r.load[2], sizeof r.load[2], "%s", "1.50");
    r.runnable = s.runnable;
    r.tasks = 1180;
    r.last_pid = 31000 + t / 1000;
    r.has_gpu = true;
    r.gpu = s.gpu;
    r.has_touch = true;
    r.touch = s.touch;
    snprintf(r.focus, sizeof r.focus, "%s", t / segment_ms >= 17 ? "com.android.launcher3" : "com.example.game");
    trace::format_system_row(r, text, sizeof text);
    fputs(text, stdout);
    // The next 50 ms: 8 CPUs give 40 ticks; the load's share is busy (a fifth
    // of it system time), I/O wait comes on top, the rest is idle.
    const double total = 8.0 * h.period_ms / 10;
    const double busy = total * s.load / 100;
    const double wait = s.iowait_per_s * h.period_ms / 1000.0;
    user += busy * 0.8;
    system += busy * 0.2;
    iowait += wait;
    idle += std::max(0.0, total - busy - wait);
    irq += 0.2;
    softirq += 0.3;
    ctxt += 150;
    const int seg = t / segment_ms;
    for (const process& p : processes)
      if (seg >= p.busy_from && seg < p.busy_to) ticks[p.pid] += p.share * h.period_ms / 10;
  }
  return 0;
}

int keep_tree(int root) {
  std::string line;
  if (!std::getline(std::cin, line)) return 1;
  std::cout << line << "\n";
  trace::header h;
  char error[trace::error_size];
  if (!trace::parse_header(line.c_str(), 1, &h, error)) {
    fprintf(stderr, "trace_tool: %s\n", error);
    return 1;
  }
  std::set<int> kept = {root};
  trace::row r;
  int number = 1;
  while (std::getline(std::cin, line)) {
    ++number;
    if (!trace::parse_row(line.c_str(), number, h, 0, &r, error)) {
      fprintf(stderr, "trace_tool: %s\n", error);
      return 1;
    }
    if (r.what == trace::kind::process) {
      if (kept.count(r.process.ppid) != 0) kept.insert(r.process.pid);
      if (kept.count(r.process.pid) == 0) continue;
    }
    if (r.what == trace::kind::ended && kept.count(r.ended.pid) == 0) continue;
    std::cout << line << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "generate") == 0) return generate();
  if (argc == 3 && strcmp(argv[1], "keep-tree") == 0) return keep_tree(atoi(argv[2]));
  fputs("usage: trace_tool generate > trace.txt\n       trace_tool keep-tree PID < trace.txt > kept.txt\n", stderr);
  return 2;
}
