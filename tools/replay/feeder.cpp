#include "feeder.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "clock.h"
#include "phone_proc.h"
#include "proc_dir.h"
#include "record_log.h"
#include "sandbox.h"
#include "scaling.h"
#include "standin_control.h"
#include "thread_step.h"

namespace replay {
namespace {

using namespace sandbox;

const std::string standin_control = std::string(control_dir) + "/standins";
static_assert(max_trace_processes <= static_cast<size_t>(standin_slots), "a slot for every recorded process");
constexpr long long tick_us = 10000;  // fake files are rewritten every 10 ms

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
  fed_read seen;  // what a read of the text records
  dev_t dev = 0;
  ino_t ino = 0;
  int readers = 0;
  long long readers_since = 0;
  // What the next rewrite puts there.
  bool want_present = true;
  std::string want_text;
  fed_read want_seen;
};

struct stand_in {
  bool started = false, ended = false;
  int slot = -1;
  pid_t pid = 0;
  int permille = 0;
  int nice = 99, policy = -1;  // last seen
};

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

// One replay's feeding: everything it holds, in one object that its parts,
// the watcher thread among them, are handed.
class feeder {
 public:
  explicit feeder(const feed_settings& s) : s_(s), m_(*s.model), stand_ins_(m_.processes.size()) {}

  int run() {
    if (!set_up()) return 3;
    if (!watch_fed_files()) return 4;
    put_parameters();
    follow_focus(0);
    follow_processes(0);
    follow_burns(0);
    start_daemons();
    follow_scheduling();
    loop();
    finish();
    return 0;
  }

 private:
  long long now_us() const { return monotonic_us() - start_us_; }

  void record(const log_record& r) const {
    const std::string line = format_record(r) + '\n';
    if (write(s_.log_fd, line.data(), line.size()) < 0) return;
  }

  // ---- set-up ----

  bool set_up() {
    start_us_ = monotonic_us();
    // The control file of the stand-ins.
    const size_t control_size = sizeof(standin_slot) * standin_slots;
    const int control = open(standin_control.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (control < 0 || ftruncate(control, static_cast<off_t>(control_size)) != 0) return false;
    void* mapped = mmap(nullptr, control_size, PROT_READ | PROT_WRITE, MAP_SHARED, control, 0);
    close(control);
    if (mapped == MAP_FAILED) return false;
    slots_ = static_cast<standin_slot*>(mapped);
    for (const fed_file_name& f : fed_file_names) files_.push_back({f.name, f.path});
    for (fed_file& f : files_) {
      f.seen.file = f.want_seen.file = f.name;
      f.fd = open(f.path.c_str(), O_RDWR | O_CLOEXEC);
      f.present = f.fd >= 0;
    }
    want_at(0);
    apply_all(false);
    return true;
  }

  bool watch_fed_files() {
    fan_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    stop_ = eventfd(0, EFD_CLOEXEC);
    if (fan_ < 0 || stop_ < 0) {
      fprintf(stderr, "replay: cannot watch the fed files (fanotify: %s)\n", strerror(errno));
      return false;
    }
    for (fed_file& f : files_)
      if (f.present) mark(f);
    std::vector<std::string> outputs(cpuset_files.begin(), cpuset_files.end());
    for (const char* path : {policy0_max_file, policy0_min_file, policy4_max_file, policy4_min_file})
      outputs.emplace_back(path);
    for (const std::string& path : outputs)
      if (fanotify_mark(fan_, FAN_MARK_ADD, FAN_CLOSE_WRITE, AT_FDCWD, path.c_str()) != 0)
        record(feeder_fault{now_us(), "cannot watch " + path});
    watcher_ = std::thread([this] { watch(); });
    return true;
  }

  void put_parameters() const {
    mkdir("/data/media/0/vmk_params", 0777);
    for (const auto& [name, text] : s_.params) write_file("/data/media/0/vmk_params/" + name, text);
    if (s_.profile >= 0) write_file("/data/media/0/vmk_params/cur_profile", std::to_string(s_.profile) + "\n");
  }

  // The daemons, with pids above the stand-ins' recorded ones.
  void start_daemons() {
    int highest = 300;
    for (const recorded_process& p : m_.processes) highest = std::max(highest, p.pid);
    move_next_pid(highest + 100);
    run_under_emulator(s_.emulator, {s_.vmkd, s_.calmd});
    vmkd_ = start_command(s_.vmkd, {s_.vmkd}, std::string(control_dir) + "/vmkd.out");
    calmd_ = start_command(s_.calmd, {s_.calmd}, std::string(control_dir) + "/calmd.out");
    record(daemon_started{"vmkd", vmkd_});
    record(daemon_started{"calmd", calmd_});
    kmsg_ = open((std::string(control_dir) + "/kmsg.log").c_str(), O_RDONLY | O_CLOEXEC);
  }

  // ---- the fed files ----

  void mark(fed_file& f) {
    if (fanotify_mark(fan_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_CLOSE_NOWRITE, AT_FDCWD, f.path.c_str()) != 0)
      record(feeder_fault{now_us(), "cannot watch " + f.path + ": " + strerror(errno)});
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
        record(feeder_fault{now_us(), "cannot write " + f.path});
      f.text = f.want_text;
    }
    f.seen = f.want_seen;
  }

  // Rewrites every file whose readers are gone; false when one had to wait.
  bool apply_all(bool watching) {
    std::lock_guard<std::mutex> hold(files_lock_);
    bool all = true;
    for (fed_file& f : files_) {
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
    for (fed_file& f : files_)
      if (f.present && f.dev == st.st_dev && f.ino == st.st_ino) return &f;
    return nullptr;
  }

  // What the files hold at a time of the trace.
  void want_at(double time_ms) {
    const system_sample& s = sample_at(m_, static_cast<long long>(time_ms));
    unsigned long long cpu[trace::cpu_counter_count];
    unsigned long long ctxt = 0;
    counters_at(m_, time_ms, cpu, &ctxt);
    std::lock_guard<std::mutex> hold(files_lock_);
    files_[0].want_text = phone_stat_text(cpu, ctxt, m_.header.cpus, m_.header.ctxt_at, s.row.runnable);
    std::copy(std::begin(cpu), std::end(cpu), files_[0].want_seen.cpu);
    files_[0].want_seen.ctxt = ctxt;
    files_[0].want_seen.running = s.row.runnable;
    files_[1].want_text = phone_loadavg_text(s.row);
    // The GPU file prints "<percent> %" as a phone's does.
    files_[2].want_present = s.row.has_gpu;
    files_[2].want_text = std::to_string(s.row.gpu) + " %\n";
    files_[3].want_present = s.row.has_touch;
    files_[3].want_text = std::to_string(s.row.touch) + "\n";
    for (size_t i : {size_t{1}, size_t{2}, size_t{3}}) files_[i].want_seen.text = files_[i].want_text;
  }

  // The watcher thread: notes each read of a fed file and each write of an
  // output file, until the feeding ends.
  void watch() {
    alignas(fanotify_event_metadata) char buffer[16384];
    for (;;) {
      pollfd fds[2] = {{fan_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno == EINTR) continue;
      if (fds[1].revents != 0) return;
      const ssize_t n = read(fan_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
      for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
        if (event->fd < 0) continue;
        if (event->mask & FAN_OPEN_PERM) opened(*event);
        if (event->mask & FAN_CLOSE_NOWRITE) {
          std::lock_guard<std::mutex> hold(files_lock_);
          if (fed_file* f = file_of(event->fd); f != nullptr && f->readers > 0) --f->readers;
        }
        if (event->mask & FAN_CLOSE_WRITE) written(*event);
        close(event->fd);
      }
    }
  }

  void opened(const fanotify_event_metadata& event) {
    {
      std::lock_guard<std::mutex> hold(files_lock_);
      if (fed_file* f = file_of(event.fd)) {
        if (f->readers++ == 0) f->readers_since = now_us();
        fed_read seen = f->seen;
        seen.time_us = now_us();
        seen.pid = event.pid;
        record(seen);
      }
    }
    const fanotify_response allow = {event.fd, FAN_ALLOW};
    if (write(fan_, &allow, sizeof allow) < 0) record(feeder_fault{now_us(), "cannot answer a read"});
  }

  void written(const fanotify_event_metadata& event) const {
    char text[256] = {};
    const ssize_t length = pread(event.fd, text, sizeof text - 1, 0);
    char path[256] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(event.fd);
    const ssize_t path_length = readlink(link.c_str(), path, sizeof path - 1);
    if (length >= 0 && path_length > 0) record(output_write{now_us(), event.pid, path, text});
  }

  // ---- stand-ins ----

  void wake(int slot) {
    __atomic_add_fetch(&slots_[slot].generation, 1, __ATOMIC_SEQ_CST);
    syscall(SYS_futex, &slots_[slot].generation, FUTEX_WAKE, 1 << 30, nullptr, nullptr, 0);
  }

  bool start_stand_in(size_t index) {
    const recorded_process& p = m_.processes[index];
    stand_in& me = stand_ins_[index];
    me.started = true;
    if (index >= static_cast<size_t>(standin_slots)) return false;
    me.slot = static_cast<int>(index);
    std::string standin = p.comm + '\0';
    const std::vector<std::string> argv = arguments_of(p.cmdline);
    for (const std::string& a : argv) standin.append(a).push_back('\0');
    write_file(standin_control + "." + std::to_string(me.slot), standin);
    __atomic_store_n(&slots_[me.slot].pid, 0, __ATOMIC_SEQ_CST);
    if (p.pid >= 2) move_next_pid(p.pid);
    const auto parent = running_.find(p.ppid);
    if (parent != running_.end() && stand_ins_[parent->second].slot >= 0 && !stand_ins_[parent->second].ended) {
      // A child of its recorded parent's stand-in, as in the trace.
      const int parent_slot = stand_ins_[parent->second].slot;
      __atomic_store_n(&slots_[parent_slot].spawn_request, me.slot + 1, __ATOMIC_SEQ_CST);
      wake(parent_slot);
    } else if (fork() == 0) {
      setenv("SB_MODE", "replay", 1);
      setenv("SB_CONTROL", standin_control.c_str(), 1);
      setenv("SB_SLOT", std::to_string(me.slot).c_str(), 1);
      setenv("SB_COMM", p.comm.c_str(), 1);
      std::vector<char*> args;
      args.reserve(argv.size() + 1);
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(s_.sb_proc.c_str(), args.data());
      _exit(127);
    }
    wait_for([&] { return __atomic_load_n(&slots_[me.slot].pid, __ATOMIC_SEQ_CST) != 0; }, 3000);
    me.pid = __atomic_load_n(&slots_[me.slot].pid, __ATOMIC_SEQ_CST);
    if (me.pid == 0) {
      record(feeder_fault{now_us(), "stand-in of " + std::to_string(p.pid) + " did not start"});
      return false;
    }
    // Every thread as recorded, the burning worker too (it started before the
    // pid was told); batch and idle as recorded, as a real-time stand-in
    // could starve this machine.
    for_each_thread(me.pid, [&](int tid) {
      set_nice(tid, p.nice);
      if (p.policy == SCHED_BATCH || p.policy == SCHED_IDLE) set_policy(tid, p.policy, 0);
      // A thread left behind would burn outside what calmd and vmkd are shown.
      sched_values v;
      if (read_sched_values(tid, &v) && v.nice != clamp_nice(p.nice))
        record(feeder_fault{now_us(), "stand-in of " + std::to_string(p.pid) + ": thread " + std::to_string(tid) +
                                          " out of step at nice " + std::to_string(v.nice)});
    });
    record(stand_in_started{now_us(), static_cast<int>(index), me.pid, p.pid});
    return true;
  }

  void end_stand_in(size_t index) {
    stand_in& me = stand_ins_[index];
    me.ended = true;
    if (me.pid <= 0) return;
    record(stand_in_spent{static_cast<int>(index), own_ticks(me.pid)});
    kill(me.pid, SIGKILL);
    record(stand_in_ended{now_us(), static_cast<int>(index)});
  }

  bool alive(const stand_in& me) const { return me.started && !me.ended && me.pid > 0; }

  // ---- what follows the trace ----

  void follow_focus(long long time_ms) {
    const std::string& now = sample_at(m_, time_ms).row.focus;
    if (focus_known_ && now == focus_) return;
    focus_known_ = true;
    focus_ = now;
    // No recorded focus: a display without a focused window.
    if (focus_.empty())
      set_focused_windows({""});
    else
      set_focused_app(focus_);
    record(focus_named{now_us(), focus_});
  }

  void follow_processes(long long time_ms) {
    for (size_t i = 0; i < m_.processes.size(); ++i) {
      const recorded_process& p = m_.processes[i];
      stand_in& me = stand_ins_[i];
      if (me.started && !me.ended && p.end_ms >= 0 && time_ms >= p.end_ms) {
        end_stand_in(i);
        if (auto it = running_.find(p.pid); it != running_.end() && it->second == i) running_.erase(it);
      }
      if (!me.started && p.start_ms <= time_ms && (p.end_ms < 0 || p.end_ms > time_ms)) {
        if (auto it = running_.find(p.pid); it != running_.end()) end_stand_in(it->second);
        if (start_stand_in(i)) running_[p.pid] = i;
      }
    }
  }

  // Each stand-in burns its recorded share, all of them scaled down together
  // to what this machine gives them.
  void follow_burns(long long time_ms) {
    double demand = 0;
    std::vector<double> share(m_.processes.size(), 0);
    for (size_t i = 0; i < m_.processes.size(); ++i) {
      if (!alive(stand_ins_[i])) continue;
      share[i] = std::min(1.0, share_at(m_.processes[i], time_ms));
      demand += share[i];
    }
    const double factor = demand > s_.cores ? s_.cores / demand : 1;
    for (size_t i = 0; i < m_.processes.size(); ++i) {
      stand_in& me = stand_ins_[i];
      if (!alive(me)) continue;
      const int permille = static_cast<int>(std::lround(share[i] * factor * 1000));
      if (permille == me.permille) continue;
      me.permille = permille;
      __atomic_store_n(&slots_[me.slot].permille, permille, __ATOMIC_SEQ_CST);
      wake(me.slot);
    }
    const long long d = std::lround(demand * 1000), g = std::lround(demand * factor * 1000);
    if (d != demand_recorded_ || g != granted_recorded_) {
      record(burn_shares{now_us(), d, g});
      demand_recorded_ = d;
      granted_recorded_ = g;
    }
  }

  void follow_kmsg() {
    char buffer[65536];
    for (;;) {
      const ssize_t n = pread(kmsg_, buffer, sizeof buffer, kmsg_offset_);
      if (n <= 0) break;
      kmsg_offset_ += n;
      kmsg_partial_.append(buffer, static_cast<size_t>(n));
    }
    for (size_t newline; (newline = kmsg_partial_.find('\n')) != std::string::npos;) {
      record(kernel_line{now_us(), kmsg_partial_.substr(0, newline)});
      kmsg_partial_.erase(0, newline + 1);
    }
  }

  void follow_scheduling() {
    for (size_t i = 0; i < stand_ins_.size(); ++i) {
      stand_in& me = stand_ins_[i];
      if (!alive(me)) continue;
      const int nice = nice_of(me.pid), policy = policy_of(me.pid);
      if (nice == me.nice && policy == me.policy) continue;
      me.nice = nice;
      me.policy = policy;
      record(scheduling_seen{now_us(), static_cast<int>(i), nice, policy});
    }
  }

  void reap() const {
    int status = 0;
    for (pid_t done; (done = waitpid(-1, &status, WNOHANG)) > 0;)
      if (done == vmkd_ || done == calmd_)
        record(feeder_fault{now_us(),
                            std::string(done == vmkd_ ? "vmkd" : "calmd") + " ended with status " +
                                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status))});
  }

  // Files every 10 ms, processes, burns and the kernel log every 100 ms,
  // scheduling every 250 ms, to the trace's end.
  void loop() {
    const long long end_us = m_.duration_ms * 1000;
    long long next_tick = tick_us, next_slow = 100000, next_scheduling = 0;
    for (;;) {
      const long long now = now_us();
      if (now >= end_us) break;
      if (now >= next_tick) {
        want_at(static_cast<double>(now) / 1000);
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
  }

  // The last records, the daemons' cost, and the daemons ended.
  void finish() {
    follow_kmsg();
    follow_scheduling();
    for (pid_t pid : pids_of_program(s_.vmkd))
      record(daemon_spent{pid, "vmkd", own_ticks(pid), status_kib(pid, "VmHWM")});
    record(daemon_spent{calmd_, "calmd", own_ticks(calmd_), status_kib(calmd_, "VmHWM")});
    for (size_t i = 0; i < stand_ins_.size(); ++i)
      if (alive(stand_ins_[i])) record(stand_in_spent{static_cast<int>(i), own_ticks(stand_ins_[i].pid)});
    record(replay_ended{now_us()});
    for (pid_t pid : pids_of_program(s_.vmkd)) kill(pid, SIGKILL);
    kill(calmd_, SIGKILL);
    // The daemons' output, which should be empty.
    for (const char* name : {"/vmkd.out", "/calmd.out"}) {
      const std::string output = control_dir + std::string(name);
      const std::string text = read_file(output);
      if (!text.empty()) record(feeder_fault{now_us(), output + (": " + text.substr(0, 400))});
    }
    const uint64_t one = 1;
    if (write(stop_, &one, sizeof one) == sizeof one)
      watcher_.join();
    else
      watcher_.detach();
  }

  const feed_settings& s_;
  const trace_model& m_;
  long long start_us_ = 0;
  standin_slot* slots_ = nullptr;
  std::mutex files_lock_;  // the watcher thread and the loop share the fed files
  std::vector<fed_file> files_;
  int fan_ = -1, stop_ = -1;
  std::thread watcher_;
  std::vector<stand_in> stand_ins_;
  std::map<int, size_t> running_;  // recorded pid -> process index
  bool focus_known_ = false;
  std::string focus_;
  long long demand_recorded_ = -1, granted_recorded_ = -1;
  pid_t vmkd_ = 0, calmd_ = 0;
  int kmsg_ = -1;
  off_t kmsg_offset_ = 0;
  std::string kmsg_partial_;
};

}  // namespace

int feed(const feed_settings& s) {
  feeder f(s);
  return f.run();
}

}  // namespace replay
