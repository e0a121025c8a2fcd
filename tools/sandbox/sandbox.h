// The device sandbox: a fresh mount and PID namespace per run, a private root
// with the host's system folders read-only, and a fake device tree (procfs
// files, /sys, /dev, /data, /system/bin) so that nothing written inside can
// reach the host. The tests, the replay and the benchmarks run their body as
// its pid 1. Its fake Android (the kernel files, the Android tools, the
// stand-in app) is in android/.
#pragma once

#include <sched.h>
#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clock.h"       // the one clock of the tools and the daemons
#include "scheduling.h"  // set_nice and set_policy, as the daemons call them

namespace sandbox {

struct options {
  bool velmora_kernel = true;  // /proc/version names the Velmora Kernel
  bool fake_stat = false;      // /proc/stat is a control file the body rewrites
  bool fake_loadavg = false;   // the same for /proc/loadavg
  bool data_mounted = true;    // /data/media/0 exists
  int android = 13;            // the Android version whose dumpsys the fake one imitates
  // Android 15's cpuset group foreground_window, with all CPUs as AOSP's init.rc makes it.
  bool foreground_window = false;
  std::vector<std::string> read_only_binds;  // host folders seen at the same path (the build tree)
  int timeout_seconds = 120;
};

// The build folder and the folder of each program outside it: the host
// folders a sandbox that runs those programs binds.
std::vector<std::string> program_binds(const std::string& build_dir, const std::vector<std::string>& programs);
// An environment variable's value; the fallback when it is unset or empty.
std::string environment_or(const char* name, const std::string& fallback);

// Runs body as pid 1 of a new sandbox and returns its exit status; -1 when
// the sandbox could not be built, timed out or its body was killed. Every
// process started inside ends with it.
int run(const options& o, const std::function<int()>& body);
// The same, with a stream for the body to report on (a benchmark's figures,
// measured inside), whose text comes back in text, however long.
int run_reporting(const options& o, const std::function<int(FILE* out)>& body, std::string* text);

// ---- inside a sandbox ----

inline constexpr const char* control_dir = "/run/sim";

struct fake_file {
  const char* path;
  const char* text;
};
// Every kernel file of the fake device, with the value it starts with.
const std::vector<fake_file>& device_files();

std::string read_file(const std::string& path);
// Rewrites in place (truncate and write), as bind-mounted control files need.
bool write_file(const std::string& path, const std::string& text);
bool exists(const std::string& path);
unsigned file_mode(const std::string& path);  // permission bits, or ~0u when missing

// Everything written to /dev/kmsg so far, once the sandbox's copier has caught up.
std::string kernel_log();
std::string setprop_log();  // one line per setprop call: its arguments
// What the fake dumpsys answers to "window windows", "window displays" and
// "window", as a phone of options::android does: the focused window of each
// display, first display first, by its title ("com.example.app/.Main",
// "StatusBar", "Application Error: com.foo"; "" for a display without focus),
// and extra lines for the window listing (which apps' titles can reach).
void set_focused_windows(const std::vector<std::string>& titles);
void set_focused_app(const std::string& package);  // one display, the app's main activity
void set_window_listing(const std::string& lines);
// One line per dumpsys run: its arguments, then "policy=P nice=N" of the run.
std::string dumpsys_log();
// Rewrites in place without a moment of emptiness: a reader sees the old or
// the new text (with options::fake_stat and fake_loadavg).
void set_proc_stat(const std::string& text);
void set_proc_loadavg(const std::string& text);
// The sandbox's real /proc/stat, also while the fake one hides it.
std::string real_proc_stat();
// A /proc/stat laid out as an eight-CPU phone's, from the counters of another:
// its aggregate line, eight cpuN lines, a long intr line that puts "ctxt"
// past the first 2048 bytes, and the other lines.
std::string phone_proc_stat(const std::string& stat);

// Waits up to timeout_ms for the predicate; every wait here is bounded.
bool wait_for(const std::function<bool()>& ready, int timeout_ms);

// Outside a sandbox, on a throwaway device (the virtual phone): makes its
// /system/bin with the given shell (as /system/bin/sh), the dumpsys of an
// Android version that the calls above steer, setprop and getprop.
bool install_android_tools(const char* shell, int android);

// ---- processes ----

// A thread of an app-like stand-in, with the values it gives itself.
struct thread_spec {
  std::string comm;          // its name (at most 15 characters); unique in the process
  int nice = 0;              // set on its own tid
  int policy = SCHED_OTHER;  // SCHED_FIFO and SCHED_RR get real-time priority 1
  bool busy = true;          // spins; else sleeps until asked for a late thread
  std::string late_comm;     // when set, it starts an idle thread of this name when asked
};

struct spawn_spec {
  std::string comm;               // name (at most 15 characters are kept)
  std::vector<std::string> argv;  // command line; defaults to the name
  bool busy = false;              // spin instead of idling
  std::string child_comm;         // when set, a child with this name is forked
  bool child_busy = false;
  std::string other_comm;  // when set, keep renaming between comm and this
  int threads = 1;         // busy: spinning threads
  // When set, the shape of an app: the main thread waits while these run.
  // The main thread first takes main_nice and main_policy, which its threads
  // inherit before each sets its own.
  std::vector<thread_spec> workers;
  int main_nice = 0;  // taken before the program starts, whatever its shape
  int main_policy = SCHED_OTHER;
  // When set, the stand-in runs from a copy of itself at this path (a vendor
  // service's program file, say), made when missing.
  std::string program;
  // Files it writes once it runs, a value and a newline each, as a vendor
  // service does on a hint: {path, value}, the value without blanks.
  std::vector<std::pair<std::string, std::string>> writes;
};
// The stand-in's program (android/sb_proc.cpp), given once by each program
// that spawns; SB_PROC_BINARY in the environment overrides it.
void set_standin_program(const std::string& path);
pid_t spawn(const spawn_spec& s);
// The same, with the given pid (taken before other processes are started).
pid_t spawn_at(pid_t pid, const spawn_spec& s);
// The next process started gets this pid, if it is free; returns the pid it
// would have had.
pid_t move_next_pid(pid_t next);
// An unreaped child with an empty command line and no exe link: how a kernel
// thread looks to the daemons.
pid_t spawn_kernel_thread_lookalike(const std::string& comm);
void stop(pid_t pid);

int nice_of(pid_t pid);
// A "<key>: <n> kB" figure of /proc/<pid>/status (VmRSS, VmHWM), or -1.
long status_kib(pid_t pid, const std::string& key);
int policy_of(pid_t pid);
pid_t parent_of(pid_t pid);
// CPU time in clock ticks by /proc/<pid>/stat, 0 when the process is gone:
// its threads' utime + stime, and with children also what the children it
// waited for took (cutime + cstime).
long own_ticks(pid_t pid);
long ticks_with_children(pid_t pid);

// A thread's scheduling values, by /proc/<pid>/task/<tid>/stat.
struct thread_state {
  pid_t tid = 0;  // 0: no such thread
  std::string comm;
  int nice = 0, policy = 0, rt_priority = 0;
};
std::vector<thread_state> threads_of(pid_t pid);
thread_state thread_named(pid_t pid, const std::string& comm);
// An app-like stand-in: its main thread waits at the given values while a
// thread "work" in step with it spins (busy) or sleeps; "work" starts a
// thread "late" when asked. Two threads are set apart: "apart" at nice 10,
// and "audio", idle under SCHED_FIFO at real-time priority 1.
spawn_spec app_like(const std::string& command_line, int nice, int policy, bool busy);
// What differs from the main thread and "work" at these values ("work" at
// that real-time priority) and the threads set apart as they began; "" when
// nothing does.
std::string out_of_step(pid_t pid, int nice, int policy, int rt_priority = 0);
// Asks an app-like stand-in's threads with a late_comm to start their late
// threads, and waits until they run.
bool start_late_threads(pid_t pid, const std::vector<std::string>& late_comms);
std::string comm_of(pid_t pid);
char state_of(pid_t pid);  // the state letter of /proc/<pid>/stat, 0 when gone
std::vector<pid_t> all_pids();
// Processes running the program, natively or under the emulator.
std::vector<pid_t> pids_of_program(const std::string& path);
std::vector<pid_t> pids_named(const std::string& comm);

struct command_result {
  int status = -1;  // exit status, 128 + signal, or -1 on time-out
  std::string out, err;
};
// Runs a program (argv[0] may differ from the path) and waits for it to end,
// at most timeout_ms; uid other than 0 runs it as that user.
command_result run_command(const std::string& path, const std::vector<std::string>& argv, int timeout_ms = 10000,
                           uid_t uid = 0);
// The same in a working folder. No shell is involved: argv reaches the
// program as it is, whatever bytes it holds.
command_result run_command_in(const std::string& dir, const std::string& path, const std::vector<std::string>& argv,
                              int timeout_ms = 10000, uid_t uid = 0);
// Starts a program in the background; its output goes to the given file.
pid_t start_command(const std::string& path, const std::vector<std::string>& argv, const std::string& output_file);

// Programs of another architecture run under a user-mode emulator (such as
// qemu-aarch64-static), which gets the program's argv[0] with -0.
void run_under_emulator(const std::string& program, const std::vector<std::string>& programs);

// A process with a program file whose command line reads as nothing, as a
// kernel thread's does: it unmaps its argument strings, as any app can.
// -1 when that could not be done.
pid_t spawn_without_command_line(const std::string& comm);

// ---- the module ----

// Installs a module zip into dir as a root manager does: unpacks it, gives
// every file mode 0644 (the installer's default), then runs the module's
// customize.sh with the installer's functions. False when a step failed.
bool install_module(const std::string& zip, const std::string& dir);

// ---- storage ----

// Fills the file system that holds the path with one file there, until no
// byte more fits; false when the file could not be made.
bool fill_file_system(const std::string& path);
// The control file through which the clock shim steps a program's wall clock
// back: it holds the number of seconds.
inline constexpr const char* clock_step_file = "/run/sim/clock_step";  // read by the preload, which builds no string
static_assert(std::string_view(clock_step_file).starts_with(control_dir));

}  // namespace sandbox
