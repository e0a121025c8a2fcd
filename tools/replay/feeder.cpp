#include "feeder.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "sandbox.h"
#include "scaling.h"
#include "standin_control.h"

namespace replay {
namespace {

using namespace sandbox;

constexpr const char* standin_control = "/run/sim/standins";
static_assert(max_trace_processes <= static_cast<size_t>(standin_slots), "a slot for every recorded process");
constexpr long long tick_us = 10000;  // fake files are rewritten every 10 ms

long long clock_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long long start_us = 0;
long long now_us() { return clock_us() - start_us; }

int log_fd = -1;
void record(std::string line) {
  line += '\n';
  if (write(log_fd, line.data(), line.size()) < 0) return;
}

std::string escaped(const std::string& text) {
  std::string out(text.size() * 4 + 1, '\0');
  if (!trace::escape_text(text.c_str(), out.data(), out.size())) return "?";
  out.resize(strlen(out.c_str()));
  return out;
}

std::string tab(long long value) { return "\t" + std::to_string(value); }

// A kernel file the daemons read and the replay writes. Every open of it is
// held by the kernel until the watcher has noted what it holds, and it is
// not rewritten while a reader has it open: each read sees one whole text,
// and the record says which.
struct fed_file {
  const char* name;
  std::string path;
  int fd = -1;
  bool present = true;
  std::string text;
  std::string detail;  // what a read record carries
  dev_t dev = 0;
  ino_t ino = 0;
  int readers = 0;
  long long readers_since = 0;
  // What the next rewrite puts there.
  bool want_present = true;
  std::string want_text, want_detail;
};

std::mutex files_lock;
std::vector<fed_file> files;
int fan = -1;

void mark(fed_file& f) {
  if (fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_CLOSE_NOWRITE, AT_FDCWD, f.path.c_str()) != 0)
    record("!" + tab(now_us()) + "\tcannot watch " + f.path + ": " + strerror(errno));
  struct stat st;
  if (fstat(f.fd, &st) == 0) {
    f.dev = st.st_dev;
    f.ino = st.st_ino;
  }
}

// Puts the wanted text in place; the caller holds the lock and no reader has the file open.
void apply(fed_file& f, bool watching) {
  if (!f.want_present) {
    if (f.present) {
      unlink(f.path.c_str());
      close(f.fd);
      f.fd = -1;
      f.present = false;
    }
    return;
  }
  if (!f.present) {
    f.fd = open(f.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    f.present = f.fd >= 0;
    f.text.clear();
    if (f.present && watching) mark(f);
  }
  if (f.present && f.want_text != f.text) {
    // In place: the file is bind-mounted or watched, so it keeps its inode.
    if (pwrite(f.fd, f.want_text.data(), f.want_text.size(), 0) < 0 ||
        ftruncate(f.fd, static_cast<off_t>(f.want_text.size())) != 0)
      record("!" + tab(now_us()) + "\tcannot write " + f.path);
    f.text = f.want_text;
  }
  f.detail = f.want_detail;
}

// Rewrites every file whose readers are gone; false when one had to wait.
bool apply_all(bool watching) {
  std::lock_guard<std::mutex> hold(files_lock);
  bool all = true;
  for (fed_file& f : files) {
    // A close that was never reported must not hold the file for ever.
    if (f.readers > 0 && now_us() - f.readers_since > 500000) f.readers = 0;
    if (f.readers > 0) {
      all = false;
      continue;
    }
    apply(f, watching);
  }
  return all;
}

fed_file* file_of(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return nullptr;
  for (fed_file& f : files)
    if (f.present && f.dev == st.st_dev && f.ino == st.st_ino) return &f;
  return nullptr;
}

// The watcher thread: notes each read of a fed file and each write of an output file.
void watch() {
  alignas(fanotify_event_metadata) char buffer[16384];
  for (;;) {
    const ssize_t n = read(fan, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
    for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
      if (event->fd < 0) continue;
      if (event->mask & FAN_OPEN_PERM) {
        {
          std::lock_guard<std::mutex> hold(files_lock);
          if (fed_file* f = file_of(event->fd)) {
            if (f->readers++ == 0) f->readers_since = now_us();
            record("R" + tab(now_us()) + tab(event->pid) + "\t" + f->name + "\t" + f->detail);
          }
        }
        const fanotify_response allow = {event->fd, FAN_ALLOW};
        if (write(fan, &allow, sizeof allow) < 0) record("!" + tab(now_us()) + "\tcannot answer a read");
      }
      if (event->mask & FAN_CLOSE_NOWRITE) {
        std::lock_guard<std::mutex> hold(files_lock);
        if (fed_file* f = file_of(event->fd); f != nullptr && f->readers > 0) --f->readers;
      }
      if (event->mask & FAN_CLOSE_WRITE) {
        char text[256] = {};
        const ssize_t length = pread(event->fd, text, sizeof text - 1, 0);
        char path[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(event->fd);
        const ssize_t path_length = readlink(link.c_str(), path, sizeof path - 1);
        if (length >= 0 && path_length > 0)
          record("W" + tab(now_us()) + tab(event->pid) + "\t" + path + "\t" + escaped(text));
      }
      close(event->fd);
    }
  }
}

// ---- what the files hold at a time ----

void want_at(const trace_model& m, double time_ms) {
  const system_sample& s = sample_at(m, static_cast<long long>(time_ms));
  unsigned long long cpu[trace::cpu_counter_count];
  unsigned long long ctxt = 0;
  counters_at(m, time_ms, cpu, &ctxt);
  static char text[16384];
  const int length =
      trace::format_proc_stat(cpu, ctxt, m.header.cpus, m.header.ctxt_at, s.row.runnable, text, sizeof text);
  std::string counters;
  for (unsigned long long c : cpu) counters += std::to_string(c) + "\t";
  counters += std::to_string(ctxt) + "\t" + std::to_string(s.row.runnable);
  std::lock_guard<std::mutex> hold(files_lock);
  files[0].want_text.assign(text, length > 0 ? static_cast<size_t>(length) : 0);
  files[0].want_detail = counters;
  trace::format_proc_loadavg(s.row, text, sizeof text);
  files[1].want_text = text;
  files[1].want_detail = escaped(text);
  // The GPU file prints "<percent> %" as a phone's does.
  files[2].want_present = s.row.has_gpu;
  files[2].want_text = std::to_string(s.row.gpu) + " %\n";
  files[3].want_present = s.row.has_touch;
  files[3].want_text = std::to_string(s.row.touch) + "\n";
  for (int i : {2, 3}) files[static_cast<size_t>(i)].want_detail = escaped(files[static_cast<size_t>(i)].want_text);
}

// ---- stand-ins ----

struct stand_in {
  bool started = false, ended = false, skipped = false;
  int slot = -1;
  pid_t pid = 0;
  int permille = 0;
  int nice = 99, policy = -1;  // last seen
};

standin_slot* slots = nullptr;

std::vector<std::string> arguments_of(const std::string& cmdline) {
  // The recorded text has the final NUL of the command line as a blank.
  std::string text = cmdline;
  if (!text.empty() && text.back() == ' ') text.pop_back();
  std::vector<std::string> argv;
  size_t at = 0;
  for (;;) {
    const size_t blank = text.find(' ', at);
    argv.push_back(text.substr(at, blank == std::string::npos ? std::string::npos : blank - at));
    if (blank == std::string::npos) break;
    at = blank + 1;
  }
  return argv;
}

void wake(int slot) {
  __atomic_add_fetch(&slots[slot].generation, 1, __ATOMIC_SEQ_CST);
  syscall(SYS_futex, &slots[slot].generation, FUTEX_WAKE, 1 << 30, nullptr, nullptr, 0);
}

bool start_stand_in(const feed_settings& s, size_t index, std::vector<stand_in>& all,
                    const std::map<int, size_t>& running) {
  const recorded_process& p = s.model->processes[index];
  stand_in& me = all[index];
  me.started = true;
  if (index >= static_cast<size_t>(standin_slots)) {
    me.skipped = true;
    return false;
  }
  me.slot = static_cast<int>(index);
  std::string standin = p.comm + '\0';
  const std::vector<std::string> argv = arguments_of(p.cmdline);
  for (const std::string& a : argv) standin.append(a).push_back('\0');
  write_file(std::string(standin_control) + "." + std::to_string(me.slot), standin);
  __atomic_store_n(&slots[me.slot].pid, 0, __ATOMIC_SEQ_CST);
  if (p.pid >= 2) move_next_pid(p.pid);
  const auto parent = running.find(p.ppid);
  if (parent != running.end() && all[parent->second].slot >= 0 && !all[parent->second].ended) {
    const int parent_slot = all[parent->second].slot;
    __atomic_store_n(&slots[parent_slot].spawn_request, me.slot + 1, __ATOMIC_SEQ_CST);
    wake(parent_slot);
  } else {
    const pid_t child = fork();
    if (child == 0) {
      setenv("SB_MODE", "replay", 1);
      setenv("SB_CONTROL", standin_control, 1);
      setenv("SB_SLOT", std::to_string(me.slot).c_str(), 1);
      setenv("SB_COMM", p.comm.c_str(), 1);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(s.sb_proc.c_str(), args.data());
      _exit(127);
    }
  }
  wait_for([&] { return __atomic_load_n(&slots[me.slot].pid, __ATOMIC_SEQ_CST) != 0; }, 3000);
  me.pid = __atomic_load_n(&slots[me.slot].pid, __ATOMIC_SEQ_CST);
  if (me.pid == 0) {
    me.skipped = true;
    record("!" + tab(now_us()) + "\tstand-in of " + std::to_string(p.pid) + " did not start");
    return false;
  }
  set_nice(me.pid, p.nice);
  // Batch and idle as recorded; a real-time stand-in could starve this machine.
  if (p.policy == SCHED_BATCH || p.policy == SCHED_IDLE) {
    const sched_param param = {0};
    sched_setscheduler(me.pid, p.policy, &param);
  }
  record("S" + tab(now_us()) + tab(static_cast<long long>(index)) + tab(me.pid) + tab(p.pid));
  return true;
}

long long own_ticks(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  long long fields[18] = {};
  const char* at = stat.c_str() + close + 2;
  for (int field = 3; field <= 17 && *at; ++field) {
    fields[field] = atoll(at);
    while (*at && *at != ' ') ++at;
    while (*at == ' ') ++at;
  }
  return fields[14] + fields[15];
}

void end_stand_in(size_t index, stand_in& me) {
  me.ended = true;
  if (me.pid <= 0) return;
  record("A" + tab(static_cast<long long>(index)) + tab(own_ticks(me.pid)));
  kill(me.pid, SIGKILL);
  record("X" + tab(now_us()) + tab(static_cast<long long>(index)));
}

}  // namespace

int feed(const feed_settings& s) {
  const trace_model& m = *s.model;
  log_fd = s.log_fd;
  start_us = clock_us();

  // The control file of the stand-ins.
  const size_t control_size = sizeof(standin_slot) * standin_slots;
  const int control = open(standin_control, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (control < 0 || ftruncate(control, static_cast<off_t>(control_size)) != 0) return 3;
  slots = static_cast<standin_slot*>(mmap(nullptr, control_size, PROT_READ | PROT_WRITE, MAP_SHARED, control, 0));
  close(control);
  if (slots == MAP_FAILED) return 3;

  files = {{"stat", "/proc/stat"}, {"loadavg", "/proc/loadavg"}, {"gpu", gpu_busy_file}, {"touch", touch_file}};
  for (fed_file& f : files) {
    f.fd = open(f.path.c_str(), O_RDWR | O_CLOEXEC);
    f.present = f.fd >= 0;
  }
  want_at(m, 0);
  apply_all(false);
  fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE | O_CLOEXEC);
  if (fan < 0) {
    fprintf(stderr, "replay: cannot watch the fed files (fanotify: %s)\n", strerror(errno));
    return 4;
  }
  for (fed_file& f : files)
    if (f.present) mark(f);
  std::vector<std::string> outputs(cpuset_files.begin(), cpuset_files.end());
  for (const char* policy : {"policy0", "policy4"})
    for (const char* limit : {"scaling_max_freq", "scaling_min_freq"})
      outputs.push_back(std::string("/sys/devices/system/cpu/cpufreq/") + policy + "/" + limit);
  for (const std::string& path : outputs)
    if (fanotify_mark(fan, FAN_MARK_ADD, FAN_CLOSE_WRITE, AT_FDCWD, path.c_str()) != 0)
      record("!" + tab(now_us()) + "\tcannot watch " + path);
  std::thread watcher(watch);
  watcher.detach();

  // Parameters, then the profile.
  mkdir("/data/media/0/vmk_params", 0777);
  for (const auto& [name, text] : s.params) write_file("/data/media/0/vmk_params/" + name, text);
  if (s.profile >= 0) write_file("/data/media/0/vmk_params/cur_profile", std::to_string(s.profile) + "\n");

  std::string focus = "\x01";  // not a package: the first sample always sets it
  auto follow_focus = [&](long long time_ms) {
    const std::string& now = sample_at(m, time_ms).row.focus;
    if (now == focus) return;
    focus = now;
    // No recorded focus: a display without a focused window.
    if (focus.empty())
      set_focused_windows({""});
    else
      set_focused_app(focus);
    record("F" + tab(now_us()) + "\t" + escaped(focus));
  };
  follow_focus(0);

  std::vector<stand_in> stand_ins(m.processes.size());
  std::map<int, size_t> running;  // recorded pid -> process index
  auto follow_processes = [&](long long time_ms) {
    for (size_t i = 0; i < m.processes.size(); ++i) {
      const recorded_process& p = m.processes[i];
      stand_in& me = stand_ins[i];
      if (me.started && !me.ended && p.end_ms >= 0 && time_ms >= p.end_ms) {
        end_stand_in(i, me);
        if (auto it = running.find(p.pid); it != running.end() && it->second == i) running.erase(it);
      }
      if (!me.started && p.start_ms <= time_ms && (p.end_ms < 0 || p.end_ms > time_ms)) {
        if (auto it = running.find(p.pid); it != running.end()) end_stand_in(it->second, stand_ins[it->second]);
        if (start_stand_in(s, i, stand_ins, running)) running[p.pid] = i;
      }
    }
  };
  long long demand_recorded = -1, granted_recorded = -1;
  auto follow_burns = [&](long long time_ms) {
    double demand = 0;
    std::vector<double> share(m.processes.size(), 0);
    for (size_t i = 0; i < m.processes.size(); ++i) {
      if (!stand_ins[i].started || stand_ins[i].ended || stand_ins[i].pid <= 0) continue;
      share[i] = std::min(1.0, share_at(m.processes[i], time_ms));
      demand += share[i];
    }
    const double factor = demand > s.cores ? s.cores / demand : 1;
    for (size_t i = 0; i < m.processes.size(); ++i) {
      stand_in& me = stand_ins[i];
      if (!me.started || me.ended || me.pid <= 0) continue;
      const int permille = static_cast<int>(std::lround(share[i] * factor * 1000));
      if (permille == me.permille) continue;
      me.permille = permille;
      __atomic_store_n(&slots[me.slot].permille, permille, __ATOMIC_SEQ_CST);
      wake(me.slot);
    }
    const long long d = std::lround(demand * 1000), g = std::lround(demand * factor * 1000);
    if (d != demand_recorded || g != granted_recorded) {
      record("B" + tab(now_us()) + tab(d) + tab(g));
      demand_recorded = d;
      granted_recorded = g;
    }
  };
  follow_processes(0);
  follow_burns(0);

  // The daemons, with pids above the stand-ins' recorded ones.
  int highest = 300;
  for (const recorded_process& p : m.processes) highest = std::max(highest, p.pid);
  move_next_pid(highest + 100);
  run_under_emulator(s.emulator, {s.vmkd, s.calmd});
  const pid_t vmkd = start_command(s.vmkd, {s.vmkd}, "/run/sim/vmkd.out");
  const pid_t calmd = start_command(s.calmd, {s.calmd}, "/run/sim/calmd.out");
  record("D\tvmkd" + tab(vmkd));
  record("D\tcalmd" + tab(calmd));

  off_t kmsg_offset = 0;
  std::string kmsg_partial;
  const int kmsg = open("/run/sim/kmsg.log", O_RDONLY | O_CLOEXEC);
  auto follow_kmsg = [&] {
    char buffer[65536];
    for (;;) {
      const ssize_t n = pread(kmsg, buffer, sizeof buffer, kmsg_offset);
      if (n <= 0) break;
      kmsg_offset += n;
      kmsg_partial.append(buffer, static_cast<size_t>(n));
    }
    for (size_t newline; (newline = kmsg_partial.find('\n')) != std::string::npos;) {
      record("K" + tab(now_us()) + "\t" + escaped(kmsg_partial.substr(0, newline)));
      kmsg_partial.erase(0, newline + 1);
    }
  };
  auto follow_scheduling = [&] {
    for (size_t i = 0; i < stand_ins.size(); ++i) {
      stand_in& me = stand_ins[i];
      if (!me.started || me.ended || me.pid <= 0) continue;
      const int nice = nice_of(me.pid), policy = policy_of(me.pid);
      if (nice == me.nice && policy == me.policy) continue;
      me.nice = nice;
      me.policy = policy;
      record("N" + tab(now_us()) + tab(static_cast<long long>(i)) + tab(nice) + tab(policy));
    }
  };
  auto reap = [&] {
    int status = 0;
    for (pid_t done; (done = waitpid(-1, &status, WNOHANG)) > 0;)
      if (done == vmkd || done == calmd)
        record("!" + tab(now_us()) + "\t" + (done == vmkd ? "vmkd" : "calmd") + " ended with status " +
               std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
  };

  const long long end_us = m.duration_ms * 1000;
  long long next_tick = tick_us, next_slow = 100000, next_scheduling = 0;
  follow_scheduling();
  for (;;) {
    const long long now = now_us();
    if (now >= end_us) break;
    if (now >= next_tick) {
      want_at(m, static_cast<double>(now) / 1000);
      next_tick += tick_us;
      if (next_tick <= now) next_tick = now + tick_us;
    }
    const bool done = apply_all(true);
    if (now >= next_slow) {
      const long long time_ms = now / 1000;
      follow_focus(time_ms);
      follow_processes(time_ms);
      follow_burns(time_ms);
      follow_kmsg();
      reap();
      next_slow += 100000;
    }
    if (now >= next_scheduling) {
      follow_scheduling();
      next_scheduling += 250000;
    }
    const long long wait = done ? std::min(next_tick, next_slow) - now_us() : 1000;
    if (wait > 0) usleep(static_cast<useconds_t>(std::min<long long>(wait, 10000)));
  }

  follow_kmsg();
  follow_scheduling();
  for (pid_t pid : pids_of_program(s.vmkd))
    record("C" + tab(pid) + "\tvmkd" + tab(own_ticks(pid)) + tab(status_kib(pid, "VmHWM")));
  record("C" + tab(calmd) + "\tcalmd" + tab(own_ticks(calmd)) + tab(status_kib(calmd, "VmHWM")));
  for (size_t i = 0; i < stand_ins.size(); ++i)
    if (stand_ins[i].started && !stand_ins[i].ended && stand_ins[i].pid > 0)
      record("A" + tab(static_cast<long long>(i)) + tab(own_ticks(stand_ins[i].pid)));
  record("T" + tab(now_us()));
  for (pid_t pid : pids_of_program(s.vmkd)) kill(pid, SIGKILL);
  kill(calmd, SIGKILL);
  // The daemons' output, which should be empty.
  for (const char* output : {"/run/sim/vmkd.out", "/run/sim/calmd.out"}) {
    const std::string text = read_file(output);
    if (!text.empty()) record("!" + tab(now_us()) + "\t" + output + ": " + escaped(text.substr(0, 400)));
  }
  return 0;
}

}  // namespace replay
