// calmd in the sandbox: its commands, its daemon, and throttle passes over real processes.
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "device_support.h"

namespace {

using namespace sandbox;

const std::string wrong_policy =
    "Wrong scheduler value at argument 2!\nPossible values:\n\t0\tSCHED_OTHER\n\t1\tSCHED_FIFO\n\t2\tSCHED_RR\n"
    "\t3\tSCHED_BATCH\n\t5\tSCHED_IDLE\n";

command_result calmd(const std::vector<std::string>& args) { return run_calmd(args, 15000); }

std::string tagged(const std::string& line) { return "[calm]: " + line + "\n"; }

TEST(Calmd, RefusesWithoutRootWhateverTheArguments) {
  in_sandbox([] {
    for (const std::vector<std::string>& argv : {std::vector<std::string>{"calmd"}, {"calmd", "-r"}, {"calmd", "-x"}}) {
      const command_result r = run_command(calmd_binary, argv, 5000, 65534);
      EXPECT_EQ(1, r.status);
      EXPECT_EQ("Необходимы рут-права!\n", r.err);
      EXPECT_EQ(40u, r.err.size());
      EXPECT_EQ("", r.out);
    }
  });
}

TEST(Calmd, CommandLineErrors) {
  in_sandbox([] {
    const pid_t victim = spawn({"victim"});
    struct {
      std::vector<std::string> args;
      int status;
      std::string err;
    } const cases[] = {
        {{"--help"}, 0, "Wrong command!\n"},
        {{"-t", "victim", "1", "0"}, 0, "Wrong command!\n"},
        {{"-t", "victim", "0", "4", "0"}, 1, wrong_policy},
        {{"-c", "0", "6"}, 1, wrong_policy},
        {{"-c", "0", "-1"}, 1, wrong_policy},
        // The first group takes effect before the second is rejected.
        {{"-t", "victim", "6", "0", "0", "other", "1", "4", "0"}, 1, wrong_policy},
    };
    for (const auto& c : cases) {
      const command_result r = calmd(c.args);
      EXPECT_EQ(c.status, r.status) << c.args[0];
      EXPECT_EQ(c.err, r.err) << c.args[0];
    }
    EXPECT_EQ(124u, wrong_policy.size());
    EXPECT_EQ(6, nice_of(victim));
  });
}

TEST(Calmd, SetsPriorityByName) {
  in_sandbox([] {
    const pid_t longname = spawn({"com.example.lon", {"com.example.longpackagename"}});
    const pid_t service = spawn({"com.example.lon", {"com.example.longpackagename:remote"}});
    const pid_t other = spawn({"other"});
    struct {
      std::vector<std::string> args;
      pid_t pid;
      int nice, policy;
    } const cases[] = {
        {{"-t", "other", "-5", "1", "50"}, other, -5, SCHED_FIFO},
        {{"-t", "other", "-5", "3", "7"}, other, 0, SCHED_BATCH},
        {{"-t", "other", "010", "0", "0"}, other, 8, SCHED_OTHER},
        // Priority 100 is passed on and refused by the kernel; the nice value still lands.
        {{"-t", "other", "30", "1", "500"}, other, 19, SCHED_OTHER},
        {{"-t", "com.example.longpackagename", "5", "0", "0"}, longname, 5, SCHED_OTHER},
        {{"-t", "other", "2", "0", "0", "com.example", "-2", "5", "0", "x"}, service, 0, SCHED_IDLE},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(0, calmd(c.args).status);
      EXPECT_EQ(c.nice, nice_of(c.pid)) << c.args[1] << " " << c.args[2];
      EXPECT_EQ(c.policy, policy_of(c.pid)) << c.args[1] << " " << c.args[2];
    }
    EXPECT_EQ(2, nice_of(other));

    // "a" is everyone from pid 2 on; init is left alone.
    EXPECT_EQ(0, calmd({"-t", "a", "3", "0", "0"}).status);
    EXPECT_EQ(3, nice_of(other));
    EXPECT_EQ(3, nice_of(longname));
    EXPECT_EQ(0, nice_of(1));
  });
}

TEST(Calmd, ResetsAllAndKernelThreads) {
  in_sandbox([] {
    const pid_t ksmd = spawn_kernel_thread_lookalike("ksmd");
    const pid_t ksmdx = spawn({"ksmdx"});
    const pid_t batch = spawn({"batchy"});
    const pid_t kthread = spawn_kernel_thread_lookalike("kworker/1:2");
    set_nice(ksmdx, 9);
    set_nice(batch, 10);
    const sched_param zero = {0};
    sched_setscheduler(batch, SCHED_BATCH, &zero);
    set_nice(kthread, 6);
    set_nice(1, 5);

    EXPECT_EQ(0, calmd({"-rk"}).status);
    EXPECT_EQ(0, nice_of(kthread));
    EXPECT_EQ(10, nice_of(batch));
    EXPECT_EQ(SCHED_BATCH, policy_of(batch));

    EXPECT_EQ(0, calmd({"-r"}).status);
    EXPECT_EQ(4, nice_of(ksmd));
    EXPECT_EQ(0, nice_of(ksmdx));
    EXPECT_EQ(0, nice_of(batch));
    EXPECT_EQ(SCHED_OTHER, policy_of(batch));
    EXPECT_EQ(0, nice_of(1));
  });
}

sandbox::options phone(int android) {
  sandbox::options o = device_options();
  o.android = android;
  return o;
}

// What "-c" finds and changes as the focus moves, on a phone before and after
// the focus line moved to the display section (Android 10).
TEST(Calmd, ForegroundCommandOnAndroid9And13) {
  for (const int android : {9, 13}) {
    in_sandbox(phone(android), [android] {
      const pid_t app = spawn({"com.example.app", {"com.example.app"}});
      const pid_t remote = spawn({"com.example.app", {"com.example.app:remote"}});
      const pid_t systemui = spawn({"ndroid.systemui", {"com.android.systemui"}});
      const pid_t crashed = spawn({"com.foo.bar", {"com.foo.bar"}});
      const pid_t other = spawn({"other"});
      const std::string main_window = "com.example.app/com.example.app.MainActivity";
      struct {
        std::vector<std::string> focus;  // per display
        std::string out;
        std::vector<pid_t> chosen;
        bool from_android_10 = false;
      } const cases[] = {
          {{main_window}, "com.example.app\n", {app, remote}},
          {{"StatusBar"}, "com.android.systemui\n", {systemui}},
          {{"NotificationShade"}, "com.android.systemui\n", {systemui}},
          {{""}, "\n", {}},
          {{"Application Error: com.foo.bar"}, "\n", {}},
          {{"Keyguard"}, "\n", {}},
          {{"", main_window}, "com.example.app\n", {app, remote}, true},
      };
      int nice = 0;
      for (const auto& c : cases) {
        if (c.from_android_10 && android < 10) continue;
        set_focused_windows(c.focus);
        --nice;
        const command_result r = calmd({"-c", std::to_string(nice)});
        EXPECT_EQ(c.out, r.out) << android << " " << c.focus.back();
        for (pid_t pid : {app, remote, systemui, crashed, other}) {
          const bool chosen = std::find(c.chosen.begin(), c.chosen.end(), pid) != c.chosen.end();
          EXPECT_EQ(chosen, nice_of(pid) == nice) << android << " " << c.focus.back() << " " << comm_of(pid);
        }
      }
      EXPECT_EQ(0, nice_of(other));
    });
  }
}

// Passes hold a busy focused app at -4; after the first pass a phone pays one
// dumpsys run per pass, of the form that answers on it. A phone's /proc/stat
// has its "ctxt" line past what calmd reads: the runnable count starts passes.
TEST(Calmd, PassesHoldTheFocusedAppOnAndroid9And13) {
  for (const int android : {9, 13}) {
    sandbox::options o = phone(android);
    o.fake_stat = true;
    o.fake_loadavg = true;
    in_sandbox(o, [android] {
      set_proc_stat(phone_proc_stat(real_proc_stat()));
      EXPECT_GT(read_file("/proc/stat").find("\nctxt "), 2048u);
      set_proc_loadavg("6.00 6.00 6.00 6/300 400\n");  // busy: a pass every cycle
      const pid_t app = spawn({"com.example.app", {"com.example.app"}, true});
      set_focused_app("com.example.app");
      const pid_t daemon = start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
      EXPECT_TRUE(wait_for([] { return count_of(kernel_log(), "___Active") >= 3; }, 15000)) << kernel_log();
      kill(daemon, SIGKILL);
      waitpid(daemon, nullptr, 0);
      EXPECT_EQ(-4, nice_of(app));
      EXPECT_EQ(SCHED_OTHER, policy_of(app));

      const std::string log = kernel_log();
      const int passes = count_of(log, "___Active");
      EXPECT_EQ(passes, count_of(log, "___Active,_ctxt:0,nr:6___"));
      const std::string runs = dumpsys_log();
      const std::string answering = android < 10 ? "window windows " : "window displays ";
      const std::string silent = android < 10 ? "window displays " : "window windows ";
      // A run killed with the daemon may not have reached its pass's log line.
      EXPECT_GE(count_of(runs, answering), passes) << runs;
      EXPECT_LE(count_of(runs, answering), passes + 1) << runs;
      EXPECT_EQ(android < 10 ? 0 : 1, count_of(runs, silent)) << runs;  // asked once, first
    });
  }
}

// Window titles are the apps' own and are printed in the window listing. A
// title holding a newline and a forged focus line, or a title that is just
// "mCurrentFocus", chooses nothing: not for "-c", not for the daemon's passes.
TEST(Calmd, AWindowTitleCannotChooseTheFocusedApp) {
  const std::string forged =
      "  Window #7 Window{7e57 u0 Notes\n  mCurrentFocus=Window{dead u0 com.evil.app/com.evil.app.X}}:\n"
      "    mDisplayId=0 rootTaskId=9 mSession=Session{1 2:u0a1} mClient=android.os.BinderProxy@1\n";
  const std::string bare = "  Window #8 Window{7e58 u0 mCurrentFocus}:\n    mDisplayId=0 rootTaskId=9\n";
  for (const int android : {9, 13}) {
    in_sandbox(phone(android), [&] {
      const pid_t app = spawn({"com.example.app", {"com.example.app"}});
      const pid_t evil = spawn({"com.evil.app", {"com.evil.app"}});
      set_focused_app("com.example.app");
      set_window_listing(forged + bare);
      EXPECT_EQ("com.example.app\n", calmd({"-c", "-10"}).out) << android;
      EXPECT_EQ(-10, nice_of(app)) << android;
      EXPECT_EQ(0, nice_of(evil)) << android;
      // A real-time request reaches the app on screen, and only it.
      EXPECT_EQ("com.example.app\n", calmd({"-c", "0", "1", "50"}).out) << android;
      sched_param param = {};
      EXPECT_EQ(SCHED_FIFO, policy_of(app)) << android;
      EXPECT_EQ(0, sched_getparam(app, &param));
      EXPECT_EQ(50, param.sched_priority);
      EXPECT_EQ(SCHED_OTHER, policy_of(evil)) << android;
      // The daemon asks the form that really answers, and holds the app on screen.
      const sched_param normal = {};
      sched_setscheduler(app, SCHED_OTHER, &normal);
      const size_t runs_before = dumpsys_log().size();
      const pid_t daemon = start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
      EXPECT_TRUE(wait_for([] { return count_of(kernel_log(), "___Active") >= 2; }, 15000)) << kernel_log();
      kill(daemon, SIGKILL);
      waitpid(daemon, nullptr, 0);
      EXPECT_EQ(-4, nice_of(app)) << android;
      EXPECT_EQ(0, nice_of(evil)) << android;
      const std::string runs = dumpsys_log().substr(runs_before);
      const std::string answering = android < 10 ? "window windows " : "window displays ";
      EXPECT_EQ(count_of(runs, "\n") - (android < 10 ? 0 : 1), count_of(runs, answering)) << runs;
    });
  }
}

// calmd runs real-time; the commands it starts must not.
TEST(Calmd, DumpsysRunsUnderNormalScheduling) {
  in_sandbox([] {
    set_focused_app("com.example.app");
    EXPECT_EQ("com.example.app\n", calmd({"-c"}).out);
    EXPECT_EQ(0, calmd({"-s"}).status);
    const std::string runs = dumpsys_log();
    EXPECT_EQ(4, count_of(runs, "\n")) << runs;
    EXPECT_EQ(4, count_of(runs, " policy=0 nice=0\n")) << runs;
  });
}

TEST(Calmd, DaemonStartLockAndSignals) {
  in_sandbox([] {
    const pid_t daemon = start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
    const std::string pid_line = std::to_string(daemon) + "\n";
    EXPECT_TRUE(file_becomes("/data/calmd.lock", pid_line, 5000)) << value_of("/data/calmd.lock");
    EXPECT_EQ(0644u, file_mode("/data/calmd.lock"));
    EXPECT_EQ("", value_of(std::string(control_dir) + "/calmd.out"));
    EXPECT_EQ(SCHED_FIFO, policy_of(daemon));
    // The first pass logs a delta measured against 2147483647: negative.
    EXPECT_TRUE(wait_for([] { return kernel_log().find("[calm]: ___Active,_ctxt:-") == 0; }, 5000)) << kernel_log();

    command_result second = calmd({});
    EXPECT_EQ(1, second.status);
    EXPECT_EQ("calmd: failed to launch, lock is already used!\n", second.out);
    // By a bare name the starter reports success; its forked child then meets the lock.
    second = run_command(calmd_binary, {"calmd"});
    EXPECT_EQ(0, second.status);
    EXPECT_NE(std::string::npos, second.out.find("Daemon started\n")) << second.out;
    // The child ends on the lock while the daemon still holds it (slow to start under ASan).
    EXPECT_TRUE(wait_for([] { return pids_of_program(calmd_binary).size() == 1; }, 5000));
    EXPECT_EQ(pid_line, value_of("/data/calmd.lock"));

    for (int sig : {SIGTERM, SIGINT, SIGQUIT}) kill(daemon, sig);
    usleep(300000);
    EXPECT_EQ(0, waitpid(daemon, nullptr, WNOHANG));
    kill(daemon, SIGSEGV);
    int status = -1;
    EXPECT_TRUE(wait_for([&] { return waitpid(daemon, &status, WNOHANG) == daemon; }, 5000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Started by a bare name it forks, and the child runs the daemon.
    const command_result bare = run_command(calmd_binary, {"calmd"});
    EXPECT_EQ("Daemon started\n", bare.out);
    EXPECT_TRUE(wait_for([] { return pids_of_program(calmd_binary).size() == 1; }, 5000));
    const std::vector<pid_t> running = pids_of_program(calmd_binary);
    ASSERT_EQ(1u, running.size());
    EXPECT_TRUE(file_becomes("/data/calmd.lock", std::to_string(running[0]) + "\n", 5000));
  });
}

TEST(Calmd, UnopenableLockFile) {
  in_sandbox([] {
    mkdir("/data/calmd.lock", 0755);
    const command_result r = calmd({});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("calmd: lock file is not open file descriptor!\n", r.out);
  });
}

// What a pass logged for a process: the usage it measured (0 on a line
// without one) and the values it chose; found is false when no line names it.
struct logged_change {
  bool found = false;
  int usage = 0, nice = 0, new_nice = 0, old_policy = 0, new_policy = 0;
};

logged_change change_logged(const std::string& log, const std::string& name, pid_t pid) {
  std::smatch m;
  const std::regex line("\\[calm\\]: " + name + " \\(" + std::to_string(pid) +
                        "\\): (?:([0-9]+)% \\[-1 jiff\\], )?=> (-?[0-9]+)>(-?[0-9]+) \\(([0-9]+)>([0-9]+)\\)\n");
  if (!std::regex_search(log, m, line)) return {};
  return {true, m[1].matched ? std::stoi(m[1]) : 0, std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])};
}

// The decision table's rows for a background process at nice 0 and at 19.
struct table_row {
  int nice, usage_from, usage_to, new_nice, policy;
};
constexpr table_row rows_at_0_and_19[] = {
    {0, 0, 2, 0, SCHED_OTHER},   {0, 3, 19, 1, SCHED_OTHER},  {0, 20, 49, 2, SCHED_OTHER},
    {0, 50, 79, 3, SCHED_OTHER}, {0, 80, 99, 3, SCHED_BATCH}, {0, 100, 100, 3, SCHED_IDLE},
    {19, 0, 0, 9, SCHED_OTHER},  {19, 1, 2, 18, SCHED_OTHER}, {19, 3, 100, 19, SCHED_IDLE},
};

// A busy process is judged by the usage calmd measured and logged: on a
// crowded machine a spinner may get little of the 100 ms window, and the
// table must still be applied to what was measured.
void expect_decided_by_the_table(const std::string& log, const std::string& name, pid_t pid, int nice) {
  const logged_change c = change_logged(log, name, pid);
  ASSERT_TRUE(c.found) << name << "\n" << log;
  EXPECT_EQ(nice, c.nice) << name;
  EXPECT_EQ(SCHED_OTHER, c.old_policy) << name;
  const table_row* row = nullptr;
  for (const table_row& r : rows_at_0_and_19)
    if (r.nice == nice && r.usage_from <= c.usage && c.usage <= r.usage_to) row = &r;
  ASSERT_NE(nullptr, row) << name << " at " << c.usage;
  EXPECT_EQ(row->new_nice, c.new_nice) << name << " at " << c.usage;
  EXPECT_EQ(row->policy, c.new_policy) << name << " at " << c.usage;
  // What it logged is what it did.
  EXPECT_EQ(c.new_nice, nice_of(pid)) << name;
  EXPECT_EQ(c.new_policy, policy_of(pid)) << name;
}

TEST(Calmd, ThrottlePassMovesIdleAndBusyProcesses) {
  in_sandbox([] {
    const pid_t idle = spawn({"idler"});
    // Two threads: a fair share of the window beside other work on the machine.
    const pid_t busy = spawn({"spinner", {"spinner"}, true, "", false, "", 2});
    // One thread at nice 19 gets next to nothing beside other work; 64 of
    // them weigh about as much as one at nice 0. All are set once they run.
    const pid_t tired = spawn({"tired", {"tired"}, true, "", false, "", 64});
    for (const thread_state& t : threads_of(tired)) set_nice(t.tid, 19);
    const pid_t low = spawn_at(150, {"lowpid"});
    const pid_t kthread = spawn_kernel_thread_lookalike("ksmd");
    const pid_t app = spawn({"com.example.app", {"com.example.app"}});
    set_nice(idle, 7);
    set_nice(low, 7);
    set_nice(kthread, 5);
    set_nice(app, -10);
    set_focused_app("com.example.app");

    EXPECT_EQ(0, calmd({"-s"}).status);
    EXPECT_EQ(3, nice_of(idle));
    EXPECT_EQ(7, nice_of(low));
    EXPECT_EQ(5, nice_of(kthread));
    EXPECT_EQ(-4, nice_of(app));

    const std::string log = kernel_log();
    EXPECT_EQ(0u, log.find(tagged("___Active,_ctxt:2147483647,nr:1___")));
    EXPECT_NE(std::string::npos, log.find(tagged("idler (" + std::to_string(idle) + "): => 7>3 (0>0)")));
    EXPECT_NE(std::string::npos, log.find(tagged("com.example.app (" + std::to_string(app) + "): => -10>-4 (0>0)")));
    expect_decided_by_the_table(log, "spinner", busy, 0);
    expect_decided_by_the_table(log, "tired", tired, 19);
    // A busy process is measured busy and moved.
    EXPECT_GE(change_logged(log, "spinner", busy).usage, 3) << log;
    EXPECT_EQ(std::string::npos, log.find("lowpid"));

    // Held at -4 under SCHED_OTHER, the app is not logged again.
    EXPECT_EQ(0, calmd({"-s"}).status);
    EXPECT_EQ(1, count_of(kernel_log(), "com.example.app ("));
  });
}

TEST(Calmd, ParentOfABusyProcessIsPushedDown) {
  in_sandbox([] {
    // Eight spinning threads reach usage 48 beside other work on the machine.
    const pid_t parent = spawn({"appmain", {"com.example.parent"}, false, "worker", true, "", 8});
    const std::vector<pid_t> workers = pids_named("worker");
    ASSERT_EQ(1u, workers.size());
    set_nice(parent, 2);
    EXPECT_EQ(0, calmd({"-s"}).status);

    // Judged by the usage calmd measured and logged.
    const std::string log = kernel_log();
    std::smatch usage;
    ASSERT_TRUE(std::regex_search(log, usage, std::regex("worker \\([0-9]+\\): ([0-9]+)%"))) << log;
    const int u = std::stoi(usage[1]);
    // The parent, listed first, had its own decision (2 halved to 1) before the push.
    const int pushed = u < 48 ? 1 : 1 + (u > 63 ? 3 : 1);
    const std::string line = "worker (" + std::to_string(workers[0]) + "): parent (appmain (" + std::to_string(parent) +
                             ")) throttled: 1 => " + std::to_string(pushed) + ".";
    EXPECT_EQ(u < 48 ? 0 : 1, count_of(log, tagged(line))) << u << "\n" << log;
    EXPECT_EQ(u < 48 ? 0 : 1, count_of(log, "): parent (")) << u << "\n" << log;
    EXPECT_EQ(pushed, nice_of(parent)) << u;
  });
}

// An app's work runs in its threads; the pass measures them all and changes
// the main thread and the threads in step with it, by the values it logs.
TEST(Calmd, ThrottlePassMovesTheThreadsInStepWithTheMainThread) {
  in_sandbox([] {
    // At nice 6 every usage changes the main thread, even on a crowded machine.
    const pid_t miner = spawn(app_like("com.evil.miner", 6, SCHED_OTHER, true));
    EXPECT_EQ(0, calmd({"-s"}).status);
    const std::string log = kernel_log();
    std::smatch line;
    ASSERT_TRUE(std::regex_search(log, line,
                                  std::regex("\\[calm\\]: com.evil.miner \\(" + std::to_string(miner) +
                                             "\\): (?:[0-9]+% \\[-1 jiff\\], )?=> 6>(-?[0-9]+) \\(0>([0-9])\\)\n")))
        << log;
    expect_in_step(miner, std::stoi(line[1]), std::stoi(line[2]), line[0]);
    EXPECT_EQ(1, count_of(log, "com.evil.miner (")) << "one line for the process";
  });
}

TEST(Calmd, ReleaseTakesTheThreadsInStepBackToNiceZero) {
  in_sandbox([] {
    const pid_t app = spawn(app_like("com.example.quiet", 12, SCHED_BATCH, false));
    for (int pass = 0; pass < 8 && nice_of(app) != 0; ++pass) {
      EXPECT_EQ(0, calmd({"-s"}).status);
      expect_in_step(app, nice_of(app), policy_of(app), "after pass " + std::to_string(pass));
    }
    expect_in_step(app, 0, SCHED_OTHER, "released");
  });
}

TEST(Calmd, TheFocusedAppIsHeldWithItsThreadsInStep) {
  in_sandbox([] {
    const pid_t app = spawn(app_like("com.example.app", 0, SCHED_OTHER, true));
    set_focused_app("com.example.app");
    EXPECT_EQ(0, calmd({"-s"}).status);
    expect_in_step(app, -4, SCHED_OTHER, "held");
  });
}

TEST(Calmd, PriorityCommandsMoveTheThreadsInStep) {
  in_sandbox([] {
    set_focused_app("com.example.one");
    struct {
      int nice, policy;
      std::vector<std::string> args;
      int new_nice, new_policy, rt_priority;
    } const cases[] = {
        {0, SCHED_OTHER, {"-t", "com.example.one", "5", "0", "0"}, 5, SCHED_OTHER, 0},
        {0, SCHED_OTHER, {"-t", "com.example.one", "0", "5", "0"}, 0, SCHED_IDLE, 0},
        {0, SCHED_OTHER, {"-c", "-2"}, -2, SCHED_OTHER, 0},
        {0, SCHED_OTHER, {"-c", "0", "1", "10"}, 0, SCHED_FIFO, 10},
        {12, SCHED_BATCH, {"-r"}, 0, SCHED_OTHER, 0},
    };
    for (const auto& c : cases) {
      const pid_t one = spawn(app_like("com.example.one", c.nice, c.policy, false));
      EXPECT_EQ(0, calmd(c.args).status);
      std::string command = "calmd";
      for (const std::string& a : c.args) command += " " + a;
      expect_in_step(one, c.new_nice, c.new_policy, command, c.rt_priority);
      stop(one);
    }
  });
}

// The kernel gives a new thread its creator's values: a thread started by a
// throttled thread is throttled too.
TEST(Calmd, ALateThreadOfAThrottledThreadStaysInStep) {
  in_sandbox([] {
    const pid_t app = spawn(app_like("com.example.late", 6, SCHED_OTHER, false));
    EXPECT_EQ(0, calmd({"-s"}).status);
    EXPECT_NE(6, nice_of(app));
    ASSERT_TRUE(start_late_threads(app, {"late"}));
    const thread_state late = thread_named(app, "late");
    EXPECT_EQ(nice_of(app), late.nice);
    EXPECT_EQ(policy_of(app), late.policy);
  });
}

}  // namespace
