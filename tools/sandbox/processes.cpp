// Processes inside the sandbox: started, inspected and ended by the tests.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sandbox.h"
#include "standin_control.h"
#include "stat_fields.h"

namespace sandbox {
namespace {

std::string& standin_program() {
  static std::string path;
  return path;
}

std::string sb_proc_path() { return environment_or("SB_PROC_BINARY", standin_program()); }

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

std::string proc_file(pid_t pid, const char* leaf) { return "/proc/" + std::to_string(pid) + "/" + leaf; }

std::string emulator;
std::vector<std::string> emulated_programs;

// The path and argv to exec for a program, under the emulator where it needs one.
std::pair<std::string, std::vector<std::string>> exec_line(const std::string& path,
                                                           const std::vector<std::string>& argv) {
  for (const std::string& program : emulated_programs) {
    if (program != path) continue;
    std::vector<std::string> line = {emulator, "-0", argv.empty() ? path : argv[0], path};
    if (argv.size() > 1) line.insert(line.end(), argv.begin() + 1, argv.end());
    return {emulator, line};
  }
  return {path, argv};
}

void drop_to(uid_t uid) {
  if (uid == 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(124);
}

// A copy of the stand-in's program at the path, its folders made; the path,
// or "" when it could not be made.
std::string program_copy(const std::string& path) {
  if (access(path.c_str(), X_OK) == 0) return path;
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    if (mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return "";
  if (!write_file(path, read_file(sb_proc_path())) || chmod(path.c_str(), 0755) != 0) return "";
  return path;
}

}  // namespace

void set_standin_program(const std::string& path) { standin_program() = path; }

pid_t spawn(const spawn_spec& s) {
  const std::string path = s.program.empty() ? sb_proc_path() : program_copy(s.program);
  const std::vector<std::string> argv = s.argv.empty() ? std::vector<std::string>{s.comm} : s.argv;
  std::string writes;
  for (const auto& [file, value] : s.writes) writes.append(file).append(" ").append(value).append("\n");
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("SB_COMM", s.comm.c_str(), 1);
    if (!writes.empty()) setenv("SB_WRITES", writes.c_str(), 1);
    setenv("SB_MODE", s.busy ? "busy" : s.other_comm.empty() ? "idle" : "rename", 1);
    if (!s.other_comm.empty()) setenv("SB_OTHER_COMM", s.other_comm.c_str(), 1);
    if (s.threads > 1) setenv("SB_THREADS", std::to_string(s.threads).c_str(), 1);
    if (!s.workers.empty()) {
      // One line a thread: "comm:nice:policy:busy:late_comm".
      std::string lines;
      for (const thread_spec& t : s.workers)
        lines += t.comm + ":" + std::to_string(t.nice) + ":" + std::to_string(t.policy) + ":" + (t.busy ? "1" : "0") +
                 ":" + t.late_comm + "\n";
      setenv("SB_MODE", "app", 1);
      setenv("SB_WORKERS", lines.c_str(), 1);
      setenv("SB_MAIN", (std::to_string(s.main_nice) + ":" + std::to_string(s.main_policy)).c_str(), 1);
    }
    if (!s.child_comm.empty()) {
      setenv("SB_CHILD_COMM", s.child_comm.c_str(), 1);
      setenv("SB_CHILD_MODE", s.child_busy ? "busy" : "idle", 1);
    }
    // From its first instruction, as an app that starts at its own value: a
    // pass must not see it at 0 first.
    if (s.main_nice != 0) setpriority(PRIO_PROCESS, 0, s.main_nice);
    execv(path.c_str(), c_argv(argv).data());
    _exit(127);
  }
  const std::string expected = s.comm.substr(0, 15);
  if (s.other_comm.empty()) wait_for([&] { return comm_of(pid) == expected; }, 5000);
  if (!s.child_comm.empty()) wait_for([&] { return !pids_named(s.child_comm.substr(0, 15)).empty(); }, 5000);
  // Every spinning thread runs before a measurement starts: on a crowded
  // machine the threads start late.
  if (s.threads > 1 && (s.busy || (s.child_busy && !s.child_comm.empty()))) {
    const size_t all = static_cast<size_t>(std::min(s.threads, max_spinning_threads));
    wait_for(
        [&] {
          const std::vector<pid_t> spinners = s.busy ? std::vector<pid_t>{pid} : pids_named(s.child_comm.substr(0, 15));
          return !spinners.empty() && threads_of(spinners[0]).size() >= all;
        },
        5000);
  }
  // A thread names itself once it has its values.
  for (const thread_spec& t : s.workers)
    wait_for([&] { return thread_named(pid, t.comm.substr(0, 15)).tid != 0; }, 5000);
  return pid;
}

pid_t spawn_at(pid_t pid, const spawn_spec& s) {
  const pid_t usual = move_next_pid(pid);
  const pid_t spawned = spawn(s);
  if (usual > 0) move_next_pid(usual);
  return spawned;
}

pid_t spawn_kernel_thread_lookalike(const std::string& comm) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_NAME, comm.c_str());
    _exit(0);
  }
  wait_for([&] { return state_of(pid) == 'Z'; }, 5000);
  return pid;
}

void stop(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

int nice_of(pid_t pid) {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
  return errno != 0 ? 99 : nice;
}

long status_kib(pid_t pid, const std::string& key) {
  const std::string status = read_file(proc_file(pid, "status"));
  const size_t at = status.find(key + ":");
  return at == std::string::npos ? -1 : atol(status.c_str() + at + key.size() + 1);
}

int policy_of(pid_t pid) { return sched_getscheduler(pid) & ~SCHED_RESET_ON_FORK; }

std::string comm_of(pid_t pid) {
  std::string name = read_file(proc_file(pid, "comm"));
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

static std::string stat_after_name(pid_t pid) {
  const std::string stat = read_file(proc_file(pid, "stat"));
  const size_t close = stat.rfind(')');
  return close == std::string::npos ? std::string() : stat.substr(close + 2);
}

long own_ticks(pid_t pid) {
  stat_fields f;
  return read_stat_fields(pid, &f) ? static_cast<long>(f.utime) + f.stime : 0;
}

long ticks_with_children(pid_t pid) {
  stat_fields f;
  return read_stat_fields(pid, &f) ? static_cast<long>(f.utime) + f.stime + f.cutime + f.cstime : 0;
}

char state_of(pid_t pid) {
  const std::string rest = stat_after_name(pid);
  return rest.empty() ? '\0' : rest[0];
}

pid_t parent_of(pid_t pid) {
  const std::string rest = stat_after_name(pid);
  return rest.size() > 2 ? atoi(rest.c_str() + 2) : 0;
}

std::vector<thread_state> threads_of(pid_t pid) {
  std::vector<thread_state> threads;
  const std::string task = proc_file(pid, "task");
  DIR* dir = opendir(task.c_str());
  if (dir == nullptr) return threads;
  while (dirent* e = readdir(dir)) {
    const int tid = atoi(e->d_name);
    if (tid <= 0) continue;
    const std::string at = task + "/" + e->d_name + "/";
    const std::string stat = read_file(at + "stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    // Fields 19 (nice), 40 (real-time priority) and 41 (policy), counted from field 3.
    std::vector<std::string> fields;
    for (size_t from = close + 2; from < stat.size();) {
      const size_t end = std::min(stat.find(' ', from), stat.size());
      fields.push_back(stat.substr(from, end - from));
      from = end + 1;
    }
    if (fields.size() < 39) continue;
    thread_state t;
    t.tid = tid;
    t.comm = read_file(at + "comm");
    if (!t.comm.empty() && t.comm.back() == '\n') t.comm.pop_back();
    t.nice = atoi(fields[19 - 3].c_str());
    t.rt_priority = atoi(fields[40 - 3].c_str());
    t.policy = atoi(fields[41 - 3].c_str());
    threads.push_back(t);
  }
  closedir(dir);
  return threads;
}

thread_state thread_named(pid_t pid, const std::string& comm) {
  for (const thread_state& t : threads_of(pid))
    if (t.comm == comm) return t;
  return {};
}

spawn_spec app_like(const std::string& command_line, int nice, int policy, bool busy) {
  spawn_spec s;
  s.comm = command_line.substr(0, 15);
  s.argv = {command_line};
  s.main_nice = nice;
  s.main_policy = policy;
  s.workers = {
      {"work", nice, policy, busy, "late"}, {"apart", 10, SCHED_OTHER, false, ""}, {"audio", 0, SCHED_FIFO, false, ""}};
  return s;
}

std::string out_of_step(pid_t pid, int nice, int policy, int rt_priority) {
  std::string differs;
  auto expect = [&](const char* what, int wanted, int got) {
    if (wanted != got)
      differs += std::string(what) + " " + std::to_string(got) + " (not " + std::to_string(wanted) + "); ";
  };
  expect("main thread nice", nice, nice_of(pid));
  expect("main thread policy", policy, policy_of(pid));
  const thread_state work = thread_named(pid, "work");
  if (work.tid == 0) return differs + "no thread work";
  expect("work nice", nice, work.nice);
  expect("work policy", policy, work.policy);
  expect("work real-time priority", rt_priority, work.rt_priority);
  const thread_state apart = thread_named(pid, "apart");
  expect("apart nice", 10, apart.nice);
  expect("apart policy", SCHED_OTHER, apart.policy);
  const thread_state audio = thread_named(pid, "audio");
  expect("audio nice", 0, audio.nice);
  expect("audio policy", SCHED_FIFO, audio.policy);
  expect("audio real-time priority", 1, audio.rt_priority);
  return differs;
}

bool start_late_threads(pid_t pid, const std::vector<std::string>& late_comms) {
  kill(pid, SIGUSR1);
  return wait_for(
      [&] {
        for (const std::string& comm : late_comms)
          if (thread_named(pid, comm.substr(0, 15)).tid == 0) return false;
        return true;
      },
      5000);
}

std::vector<pid_t> all_pids() {
  std::vector<pid_t> pids;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return pids;
  while (dirent* e = readdir(dir))
    if (const int pid = atoi(e->d_name); pid > 0) pids.push_back(pid);
  closedir(dir);
  return pids;
}

std::vector<pid_t> pids_of_program(const std::string& path) {
  std::vector<pid_t> found;
  for (pid_t pid : all_pids()) {
    char target[512];
    const ssize_t n = readlink(proc_file(pid, "exe").c_str(), target, sizeof target - 1);
    if (n <= 0) continue;  // ended, or a zombie
    if (std::string(target, static_cast<size_t>(n)) == path) {
      found.push_back(pid);
      continue;
    }
    // Under the emulator the program is one of the first arguments.
    const std::string cmdline = read_file(proc_file(pid, "cmdline"));
    int argument = 0;
    for (size_t at = 0; at < cmdline.size() && argument < 5; ++argument) {
      const size_t end = cmdline.find('\0', at);
      if (cmdline.compare(at, end - at, path) == 0 && argument > 0 && !emulator.empty()) {
        found.push_back(pid);
        break;
      }
      at = end == std::string::npos ? cmdline.size() : end + 1;
    }
  }
  return found;
}

void run_under_emulator(const std::string& program, const std::vector<std::string>& programs) {
  emulator = program;
  emulated_programs = program.empty() ? std::vector<std::string>{} : programs;
}

std::vector<pid_t> pids_named(const std::string& comm) {
  std::vector<pid_t> found;
  for (pid_t pid : all_pids())
    if (comm_of(pid) == comm) found.push_back(pid);
  return found;
}

command_result run_command(const std::string& path, const std::vector<std::string>& argv, int timeout_ms, uid_t uid) {
  return run_command_in("", path, argv, timeout_ms, uid);
}

command_result run_command_in(const std::string& dir, const std::string& path, const std::vector<std::string>& argv,
                              int timeout_ms, uid_t uid) {
  command_result result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    drop_to(uid);
    const auto [program, line] = exec_line(path, argv);
    execvp(program.c_str(), c_argv(line).data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  const long deadline = monotonic_ms() + timeout_ms;
  auto drain = [&] {
    char buffer[4096];
    for (auto [fd, text] : {std::pair{out[0], &result.out}, std::pair{err[0], &result.err}}) {
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<size_t>(n));
    }
  };
  int status = 0;
  for (;;) {
    drain();
    // A daemon it forked may keep the pipes open: stop at the program's own end.
    if (waitpid(pid, &status, WNOHANG) == pid) {
      drain();
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (monotonic_ms() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, 10) > 0) usleep(1000);
  }
  close(out[0]);
  close(err[0]);
  return result;
}

pid_t start_command(const std::string& path, const std::vector<std::string>& argv, const std::string& output_file) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      close(fd);
    }
    const auto [program, line] = exec_line(path, argv);
    execvp(program.c_str(), c_argv(line).data());
    _exit(127);
  }
  return pid;
}

pid_t spawn_without_command_line(const std::string& comm) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_NAME, comm.c_str());
    // Unmap the pages that hold the argument strings: the kernel then reads
    // no byte of the command line. This frame never returns, so only it and
    // the calls it makes must lie below those pages.
    char stat[1024] = {};
    const int fd = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd >= 0 ? read(fd, stat, sizeof stat - 1) : -1;
    const char* field = n > 0 ? strrchr(stat, ')') : nullptr;
    for (int number = 2; field != nullptr && number < 48; ++number) field = strchr(field + 1, ' ');
    unsigned long arg_start = 0, arg_end = 0;
    if (field == nullptr || sscanf(field, " %lu %lu", &arg_start, &arg_end) != 2) _exit(1);
    const unsigned long page = static_cast<unsigned long>(sysconf(_SC_PAGESIZE));
    const unsigned long first = arg_start & ~(page - 1), last = (arg_end + page - 1) & ~(page - 1);
    if (reinterpret_cast<unsigned long>(stat) + sizeof stat + 512 > first) _exit(1);
    // The address of the kernel's argument pages, given as a number.
    if (munmap(reinterpret_cast<void*>(first), last - first) != 0) _exit(1);  // NOLINT(performance-no-int-to-ptr)
    for (;;) pause();
  }
  const bool made = wait_for(
      [&] { return comm_of(pid) == comm.substr(0, 15) && read_file(proc_file(pid, "cmdline")).empty(); }, 5000);
  if (made && state_of(pid) != 'Z') return pid;
  stop(pid);
  return -1;
}

}  // namespace sandbox
