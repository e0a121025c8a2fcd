// The module's face on the phone: the status command, the root side of the
// WebUI (control.sh, vmkctl), the Action button and the live description,
// run from the installed module in the sandbox.
#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "device_support.h"

namespace {

using namespace sandbox;

const std::string module = "/data/adb/modules/vmk";
const std::string params = "/data/media/0/vmk_params/";

std::string module_zip() {
  const char* env = getenv("VMK_MODULE_ZIP");
  return env != nullptr && *env ? env : VMK_MODULE_ZIP;
}

void install_module() { ASSERT_TRUE(sandbox::install_module(module_zip(), module)); }

// A command of the module's root side, as a root manager's bridge runs it.
command_result control(const std::vector<std::string>& args,
                       const std::string& kernel_log = std::string(control_dir) + "/kmsg.log") {
  std::vector<std::string> argv = {"env", "VMK_KERNEL_LOG=" + kernel_log, module + "/control.sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command("env", argv, 30000);
}

// One field of a JSON text, as jq prints it.
std::string json_field(const std::string& json, const std::string& filter) {
  write_file("/tmp/status.json", json);
  std::string out = run_command("jq", {"jq", "-r", filter, "/tmp/status.json"}).out;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string trimmed(const std::string& text) { return text.substr(0, text.find('\n')); }

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.')) names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

// What the status says is what the kernel files, the daemons and calmd's
// log say; as JSON for the WebUI and as text for a root shell.
TEST(Face, StatusTellsWhatTheFilesTheDaemonsAndTheLogSay) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  in_sandbox([] {
    install_module();
    mkdir(params.c_str(), 0777);
    write_file(params + "cur_profile", "0\n");
    set_focused_app("com.example.app");
    const pid_t busy = spawn({"com.example.syn", {"com.example.sync"}, true, "", false, "", 2});
    for (const thread_state& t : threads_of(busy)) set_nice(t.tid, 12);  // both threads, in step
    EXPECT_EQ(0, control({"start", "vmkd"}).status);
    EXPECT_EQ(0, control({"start", "calmd"}).status);
    ASSERT_TRUE(wait_for([] { return kernel_log().find("com.example.syn (") != std::string::npos; }, 15000));
    const command_result r = control({"status"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("true", json_field(r.out, ".vmkd.running"));
    EXPECT_EQ("3", json_field(r.out, ".vmkd.pids | length"));
    EXPECT_EQ("true", json_field(r.out, ".calmd.running"));
    EXPECT_EQ("0", json_field(r.out, ".params[] | select(.key == \"cur_profile\") | .value"));
    for (const char* group : {"top-app", "foreground", "background"})
      EXPECT_EQ(trimmed(read_file(std::string("/dev/cpuset/") + group + "/cpus")),
                json_field(r.out, std::string(".cpusets[\"") + group + "\"]"))
          << group;
    EXPECT_EQ(trimmed(read_file("/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq")),
              json_field(r.out, ".limits.policy4.max"));
    EXPECT_NE("", json_field(r.out, ".load.reason"));
    EXPECT_EQ("null", json_field(r.out, ".focus")) << "the page's refresh runs no dumpsys";
    EXPECT_EQ("com.example.app", json_field(control({"focus"}).out, ".focus"));
    EXPECT_EQ("com.example.syn",
              json_field(r.out, "[.calmd_log.changes[] | select(.pid == " + std::to_string(busy) + ")][0].name"));
    EXPECT_NE(std::string::npos, json_field(r.out, "[.calmd_log.changes[].why] | join(\"|\")").find("usage "));
    EXPECT_EQ("1", json_field(r.out, ".calmd_log.held_down"));
    const std::string text =
        run_command(module + "/bin/vmktrace",
                    {module + "/bin/vmktrace", "--status", "--kernel-log", std::string(control_dir) + "/kmsg.log"})
            .out;
    EXPECT_NE(std::string::npos, text.find("Profile 0: load-driven")) << text;
    EXPECT_NE(std::string::npos, text.find("calmd holds 1 process down")) << text;
  });
}

// A vendor service that rewrites a limit and a list vmkd set in a fixed
// profile: the status flags both values and names the service, by its
// program file. Before it runs nothing is flagged; an app that only takes its
// name is not named. Android 15's foreground_window is listed as not vmkd's.
TEST(Face, StatusNamesAnotherWriterOfWhatVmkdSet) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  sandbox::options o = device_options();
  o.foreground_window = true;
  in_sandbox(o, [] {
    install_module();
    mkdir(params.c_str(), 0777);
    write_file(params + "cur_profile", "2\n");
    EXPECT_EQ(0, control({"start", "vmkd"}).status);
    const std::string policy4_max = "/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq";
    const std::string foreground = "/dev/cpuset/foreground/cpus";
    ASSERT_TRUE(file_becomes(policy4_max, "2016000\n", 15000));
    ASSERT_TRUE(file_becomes(foreground, "2,4-7\n", 15000));
    const std::string vmktrace = module + "/bin/vmktrace";
    const auto status = [&](bool json) {
      std::vector<std::string> argv = {vmktrace, "--status", "--no-dumpsys", "--kernel-log",
                                       std::string(control_dir) + "/kmsg.log"};
      if (json) argv.emplace_back("--json");
      const command_result r = run_command(vmktrace, argv, 30000);
      EXPECT_EQ(0, r.status) << r.err;
      return r.out;
    };
    // CPU time of a status call, without and with the walk for writers.
    const auto cpu_ms_per_status = [&] {
      constexpr int calls = 10;
      rusage before{}, after{};
      getrusage(RUSAGE_CHILDREN, &before);
      for (int i = 0; i < calls; ++i) status(true);
      getrusage(RUSAGE_CHILDREN, &after);
      const auto ms = [](const rusage& r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
      };
      return (ms(after) - ms(before)) / calls;
    };
    const double unflagged_ms = cpu_ms_per_status();
    // An app named as the power HAL, which any app can be.
    const pid_t twin = spawn({"android.hardwar", {"/vendor/bin/hw/android.hardware.power-service.pixel-libperfmgr"}});

    std::string text = status(false), json = status(true);
    printf("%s", text.substr(text.find("CPUs of each"), text.find("Load now") - text.find("CPUs of each")).c_str());
    EXPECT_EQ(std::string::npos, text.find("another writer")) << text;
    EXPECT_NE(std::string::npos, text.find("  foreground_window  0-7       not vmkd's")) << text;
    EXPECT_EQ("vmkd vmkd not_vmkd null",
              json_field(json,
                         "[.whose.cpusets.foreground, .whose.limits.policy4.max, "
                         ".whose.cpusets.foreground_window, .whose.writers] | map(tostring) | join(\" \")"));
    EXPECT_EQ("0-7", json_field(json, ".cpusets.foreground_window"));

    // Pixel's power HAL, from its program file (hardware/google/pixel,
    // power-libperfmgr/aidl/android.hardware.power-service.pixel-libperfmgr.rc),
    // on an app's launch hint.
    spawn_spec hal = {"android.hardwar", {"/vendor/bin/hw/android.hardware.power-service.pixel-libperfmgr"}};
    hal.program = "/vendor/bin/hw/android.hardware.power-service.pixel-libperfmgr";
    hal.writes = {{policy4_max, "2803200"}, {foreground, "0-7"}};
    const pid_t power_hal = spawn(hal);
    ASSERT_TRUE(file_becomes(policy4_max, "2803200\n", 5000));
    ASSERT_TRUE(file_becomes(foreground, "0-7\n", 5000));
    text = status(false);
    json = status(true);
    printf("%s", text.substr(text.find("CPUs of each"), text.find("Load now") - text.find("CPUs of each")).c_str());
    EXPECT_NE(std::string::npos, text.find("Set by another writer: foreground, policy4 max\n")) << text;
    const std::string named =
        "  Running, and known to write such files: android.hardware.power-service.pixel-libperfmgr (pid " +
        std::to_string(power_hal) + ", power HAL)\n";
    EXPECT_NE(std::string::npos, text.find(named)) << text;
    EXPECT_EQ(std::string::npos, text.find("pid " + std::to_string(twin))) << "an app that took the name is named";
    EXPECT_EQ("another another vmkd", json_field(json,
                                                 "[.whose.cpusets.foreground, .whose.limits.policy4.max, "
                                                 ".whose.limits.policy0.max] | join(\" \")"));
    EXPECT_EQ(std::to_string(power_hal) + " android.hardware.power-service.pixel-libperfmgr power HAL",
              json_field(json, ".whose.writers[] | \"\\(.pid) \\(.program) \\(.kind)\""));
    printf("FIGURE status --json: %.2f ms CPU per call with nothing flagged, %.2f ms with the walk for writers\n",
           unflagged_ms, cpu_ms_per_status());
  });
}

// A line of calmd's, as dmesg prints it: the kernel log's time, then the text.
std::string dmesg_line(double time_s, const std::string& text) {
  char stamp[32];
  snprintf(stamp, sizeof stamp, "[%12.6f] ", time_s);
  return stamp + text + "\n";
}

// Of the processes calmd's lines leave down, only those still there as the
// same process, alive and still down count: not a zombie, not a process that
// took the pid after the line, not one something else let back up, not one
// with a thread left ahead of its main thread.
TEST(Face, HeldDownCountsOnlyProcessesStillHeldDown) {
  in_sandbox([] {
    const pid_t held = spawn({"com.example.held"});
    set_nice(held, 10);
    const pid_t batch = spawn({"com.example.batch"});
    set_policy(batch, SCHED_BATCH, 0);
    const pid_t reset = spawn({"com.example.reset"});  // logged down, now at nice 0
    const pid_t zombie = spawn({"com.example.zomb"});
    set_nice(zombie, 10);
    kill(zombie, SIGKILL);  // not reaped
    ASSERT_TRUE(wait_for([&] { return state_of(zombie) == 'Z'; }, 5000));
    // The pid of a process calmd logged ten seconds ago, ended since, now another's.
    const pid_t ended = spawn({"com.example.old"});
    stop(ended);
    const pid_t reused = spawn_at(ended, {"com.example.new"});
    ASSERT_EQ(ended, reused);
    set_nice(reused, 10);
    // Apps logged at 10: one whose threads in step went with its main thread,
    // one whose thread "work" was left at nice 0.
    const pid_t moved = spawn(app_like("com.example.moved", 10, SCHED_OTHER, false));
    const pid_t left = spawn(app_like("com.example.left", 0, SCHED_OTHER, false));
    set_nice(left, 10);
    const double now_s = static_cast<double>(monotonic_us()) / 1e6;
    ASSERT_GT(now_s, 20.0) << "the ended process's line needs ten seconds of the clock before this";
    auto change = [](const char* name, pid_t pid, const char* to) {
      return std::string("[calm]: ") + name + " (" + std::to_string(pid) + "): 40% [-1 jiff], => " + to;
    };
    write_file("/tmp/dmesg.txt", dmesg_line(now_s - 10, change("com.example.old", ended, "0>10 (0>0)")) +
                                     dmesg_line(now_s, change("com.example.held", held, "0>10 (0>0)")) +
                                     dmesg_line(now_s, change("com.example.batch", batch, "0>0 (0>3)")) +
                                     dmesg_line(now_s, change("com.example.reset", reset, "0>10 (0>0)")) +
                                     dmesg_line(now_s, change("com.example.zomb", zombie, "0>10 (0>0)")) +
                                     dmesg_line(now_s, change("com.example.moved", moved, "0>10 (0>0)")) +
                                     dmesg_line(now_s, change("com.example.left", left, "0>10 (0>0)")));
    const std::vector<std::string> status = {vmktrace_binary, "--status", "--kernel-log", "/tmp/dmesg.txt"};
    std::vector<std::string> json = status;
    json.emplace_back("--json");
    const command_result r = run_command(vmktrace_binary, json, 30000);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("3", json_field(r.out, ".calmd_log.held_down"))
        << "the held one, the one in BATCH and the app whose threads in step were moved";
    const std::string text = run_command(vmktrace_binary, status, 30000).out;
    EXPECT_NE(std::string::npos, text.find("calmd holds 3 processes down")) << text;
  });
}

// The status and the description open nothing for writing, change no file
// and no process: only their output is written.
TEST(Face, StatusWritesNothing) {
  if (emulated()) GTEST_SKIP() << "strace follows the emulator, not the program";
  if (VMK_SANITIZED) GTEST_SKIP() << "LeakSanitizer does not run under ptrace";
  in_sandbox([] {
    install_module();
    set_focused_app("com.example.app");
    const std::string vmktrace = module + "/bin/vmktrace";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--status", "--json"}, std::vector<std::string>{"--description"}}) {
      std::vector<std::string> argv = {"strace", "-qq", "-o", "/tmp/trace", vmktrace};
      argv.insert(argv.end(), args.begin(), args.end());
      ASSERT_EQ(0, run_command("strace", argv, 30000).status);
      const std::string trace = read_file("/tmp/trace");
      ASSERT_NE(std::string::npos, trace.find("/cpus\"")) << trace.substr(0, 2000);
      // Each call by its name; opens by their flags; writes by their descriptor.
      for (size_t at = 0; at < trace.size(); at = trace.find('\n', at) + 1) {
        const std::string line = trace.substr(at, trace.find('\n', at) - at);
        const std::string call = line.substr(0, line.find('('));
        for (const char* changing :
             {"unlink", "unlinkat", "rename",    "renameat", "renameat2", "mkdir",       "mkdirat",
              "chmod",  "fchmod",   "fchmodat",  "truncate", "ftruncate", "setpriority", "sched_setscheduler",
              "kill",   "symlink",  "symlinkat", "link",     "linkat",    "utimensat"})
          EXPECT_NE(changing, call) << args[0] << ": " << line;
        if (call == "openat" || call == "open") {
          for (const char* flag : {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC"})
            EXPECT_EQ(std::string::npos, line.find(flag)) << args[0] << ": " << line;
        }
        if (call == "write") {
          EXPECT_EQ(0, line.compare(0, 8, "write(1,")) << args[0] << ": " << line;
        }
        if (at + line.size() >= trace.size()) break;
      }
    }
    EXPECT_FALSE(exists("/data/media/0/vmk_params")) << "the status made the parameter folder";
  });
}

// The page's refresh every 2 s: one program started (the shell that execs
// vmktrace), no fork, no dumpsys; what it costs is printed. The focus asked
// on the page's button runs dumpsys.
TEST(Face, ThePagesRefreshStartsOneProgramAndNoDumpsys) {
  if (emulated()) GTEST_SKIP() << "strace follows the emulator, not the program";
  if (VMK_SANITIZED) GTEST_SKIP() << "LeakSanitizer does not run under ptrace";
  in_sandbox([] {
    install_module();
    set_focused_app("com.example.app");
    write_file(std::string(control_dir) + "/kmsg.log", "");
    std::vector<std::string> refresh = {"env", "VMK_KERNEL_LOG=" + std::string(control_dir) + "/kmsg.log",
                                        "/system/bin/sh", module + "/control.sh", "status"};
    std::vector<std::string> traced = {"strace", "-f",        "-qq", "-e", "trace=execve,fork,vfork,clone,clone3",
                                       "-o",     "/tmp/trace"};
    traced.insert(traced.end(), refresh.begin() + 2, refresh.end());
    ASSERT_EQ(0, run_command("strace", traced, 30000).status);
    const std::string trace = read_file("/tmp/trace");
    int execs = 0, forks = 0;
    for (size_t at = 0; (at = trace.find(' ', at)) != std::string::npos; ++at) {
      execs += trace.compare(at + 1, 7, "execve(") == 0;
      forks += trace.compare(at + 1, 5, "fork(") == 0 || trace.compare(at + 1, 6, "vfork(") == 0 ||
               trace.compare(at + 1, 6, "clone(") == 0 || trace.compare(at + 1, 7, "clone3(") == 0;
    }
    EXPECT_EQ(2, execs) << trace;  // sh, then vmktrace in its place
    EXPECT_EQ(0, forks) << trace;

    // Each refresh passes the CPU counters of the one before, as the page does.
    const auto counters_of = [](const std::string& json) {
      const size_t at = json.find("\"counters\":\"");
      return at == std::string::npos ? std::string() : json.substr(at + 12, json.find('"', at + 12) - at - 12);
    };
    const std::string dumpsys_before = dumpsys_log();
    const auto cpu_ms = [](const rusage& r) {
      return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
             static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
    };
    constexpr int calls = 20;
    for (const bool since : {false, true}) {
      std::string counters = counters_of(run_command("env", refresh, 30000).out);
      ASSERT_NE("", counters);
      rusage before{}, after{};
      getrusage(RUSAGE_CHILDREN, &before);
      const long long start = monotonic_ms();
      for (int i = 0; i < calls; ++i) {
        std::vector<std::string> argv = refresh;
        if (since) argv.push_back(counters);
        const command_result r = run_command("env", argv, 30000);
        ASSERT_EQ(0, r.status) << r.err;
        EXPECT_EQ(since, r.out.find("\"since_earlier\":true") != std::string::npos) << r.out;
        counters = counters_of(r.out);
      }
      const long long wall = monotonic_ms() - start;
      getrusage(RUSAGE_CHILDREN, &after);
      printf("FIGURE page refresh (control.sh status%s): %.1f ms wall, %.1f ms CPU per call, over %i calls\n",
             since ? " with the last counters" : ", a 100 ms sample", static_cast<double>(wall) / calls,
             (cpu_ms(after) - cpu_ms(before)) / calls, calls);
    }
    EXPECT_EQ(dumpsys_before, dumpsys_log()) << "the refresh ran dumpsys";
    refresh.emplace_back("1,2,3;reboot");
    EXPECT_EQ(2, run_command("env", refresh, 30000).status) << "control.sh passes counters only";
    refresh.pop_back();
    std::vector<std::string> focus = refresh;
    focus.back() = "focus";
    EXPECT_EQ(0, run_command("env", focus, 30000).status);
    EXPECT_NE(dumpsys_before, dumpsys_log()) << "the focus asked on the page runs dumpsys";
  });
}

// Only known keys and plain numbers within the face's ranges are written,
// whole, in the parameter folder; nothing is run and nothing written elsewhere.
TEST(Face, ControlTakesOnlyKnownKeysAndPlainNumbers) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  in_sandbox([] {
    install_module();
    const std::vector<std::string> data_before = entries("/data"), media_before = entries("/data/media/0");
    const struct {
      std::string key, value, message;
    } refused[] = {
        {"cur_profile", "abc", "cur_profile takes a whole number"},
        {"cur_profile", "010", "cur_profile takes a whole number"},
        {"cur_profile", "-0", "cur_profile takes a whole number"},
        {"cur_profile", " 1", "cur_profile takes a whole number"},
        {"cur_profile", "1.5", "cur_profile takes a whole number"},
        {"cur_profile", "7", "cur_profile takes 0 to 3, not 7"},
        {"ram.pr.threshold", "99999999999", "ram.pr.threshold takes a whole number"},
        {"sched.dstune.mode", "50", "sched.dstune.mode takes 0 to 4 or 99, not 50"},
        {"cur_profile", "1;touch /data/x", "cur_profile takes a whole number"},
        {"cur_profile", "$(touch /data/x)", "cur_profile takes a whole number"},
        {"cur_profile", std::string(100000, '9'), "cur_profile takes a whole number"},
        {"../x", "1", "no parameter \"../x\""},
        {"cur_profile/../../x", "1", "no parameter \"cur_profile/../../x\""},
        {"a/b", "1", "no parameter \"a/b\""},
        {"", "1", "no parameter \"\""},
        {std::string(5000, 'k'), "1", "no parameter \"kkkk"},
    };
    for (const auto& c : refused) {
      const command_result r = control({"set", c.key, c.value});
      EXPECT_EQ(2, r.status) << c.key << " " << c.value.substr(0, 40);
      EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err.substr(0, 300);
    }
    EXPECT_EQ(data_before, entries("/data"));
    EXPECT_EQ(media_before, entries("/data/media/0"));
    EXPECT_EQ(2, control({"set", "cur_profile"}).status);
    EXPECT_EQ(2, control({"stop", "init"}).status);
    // A plain number: the whole file, in the folder vmkd reads, nothing left beside it.
    const command_result r = control({"set", "ram.pr.task_min_adj", "-500"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("ram.pr.task_min_adj = -500\n", r.out);
    EXPECT_EQ("-500\n", read_file(params + "ram.pr.task_min_adj"));
    EXPECT_EQ(0777u, file_mode(params + "ram.pr.task_min_adj"));
    EXPECT_EQ(std::vector<std::string>{"ram.pr.task_min_adj"}, entries(params));
    EXPECT_FALSE(exists("/data/x"));
    // Where no file can be written, even the default is no success.
    run_command("rm", {"rm", "-r", params});
    write_file("/data/media/0/vmk_params", "");
    const command_result full = control({"set", "ram.pr.threshold", "67"});
    EXPECT_EQ(1, full.status);
    EXPECT_NE(std::string::npos, full.err.find("ram.pr.threshold could not be written")) << full.err;
  });
}

// Any app may put anything at a parameter's path: an empty folder gives way
// to the parameter's file; anything else is named and left where it is, the
// write fails with status 1, and nothing outside the folder is touched.
TEST(Face, ControlNamesWhatStandsAtAParameterPath) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  in_sandbox([] {
    install_module();
    mkdir(params.c_str(), 0777);
    write_file("/data/victim", "precious\n");
    chmod("/data/victim", 0600);
    const std::vector<std::string> data_before = entries("/data"), media_before = entries("/data/media/0");
    // An empty folder is removed and the file takes its place.
    mkdir((params + "ram.pr.efficiency").c_str(), 0777);
    const command_result empty = control({"set", "ram.pr.efficiency", "70"});
    EXPECT_EQ(0, empty.status) << empty.err;
    EXPECT_EQ("70\n", read_file(params + "ram.pr.efficiency"));
    mkdir((params + "ram.pr.threshold").c_str(), 0777);
    write_file(params + "ram.pr.threshold/kept", "mine\n");
    mkfifo((params + "sched.dstune.mode").c_str(), 0666);
    mkfifo((params + "cur_profile").c_str(), 0666);
    ASSERT_EQ(0, symlink("/data/victim", (params + "ram.pr.swap_pages").c_str()));
    const struct {
      std::vector<std::string> args;
      std::string message;
    } refused[] = {
        {{"set", "ram.pr.threshold", "50"}, "a folder stands at " + params + "ram.pr.threshold"},
        {{"set", "sched.dstune.mode", "3"}, "a FIFO stands at " + params + "sched.dstune.mode"},
        {{"set", "ram.pr.swap_pages", "100"}, "a link stands at " + params + "ram.pr.swap_pages"},
    };
    for (const auto& c : refused) {
      const command_result r = control(c.args);
      EXPECT_EQ(1, r.status) << c.args[1] << ": " << r.err;
      EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
      EXPECT_EQ(std::string::npos, r.err.find('%')) << r.err;
    }
    const command_result action = run_command(module + "/bin/vmkctl", {module + "/bin/vmkctl", "next-profile"});
    EXPECT_EQ(1, action.status) << action.out << action.err;
    EXPECT_NE(std::string::npos, action.err.find("a FIFO stands at " + params + "cur_profile")) << action.err;
    // All left as they were, and nothing elsewhere changed.
    EXPECT_EQ("mine\n", read_file(params + "ram.pr.threshold/kept"));
    struct stat st;
    EXPECT_TRUE(lstat((params + "sched.dstune.mode").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(lstat((params + "cur_profile").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(lstat((params + "ram.pr.swap_pages").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ("precious\n", read_file("/data/victim"));
    EXPECT_EQ(0600u, file_mode("/data/victim"));
    EXPECT_EQ(data_before, entries("/data"));
    EXPECT_EQ(media_before, entries("/data/media/0"));
  });
}

// The Action button goes round the profiles and says so; the description
// tells which daemons run, and is rewritten only when it changed.
TEST(Face, ActionButtonAndDescription) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  in_sandbox([] {
    install_module();
    const auto description = [] {
      const std::string prop = read_file(module + "/module.prop");
      const size_t at = prop.find("description=");
      return prop.substr(at + 12, prop.find('\n', at) - at - 12);
    };
    const std::string action = module + "/action.sh";
    auto press = [&] { return run_command(action, {action}, 30000); };
    EXPECT_NE(std::string::npos, press().out.find("profile 2 (fixed full speed) -> 3 (fixed full speed and boost)"));
    EXPECT_EQ(0, description().find("stopped: vmkd and calmd. Kernel tuning")) << description();
    EXPECT_NE(std::string::npos, press().out.find("profile 3 (fixed full speed and boost) -> 0 (load-driven)"));
    const command_result third = press();
    EXPECT_NE(std::string::npos, third.out.find("profile 0 (load-driven) -> 2 (fixed full speed)"));
    EXPECT_NE(std::string::npos, third.out.find("\nvmkd   stopped\n")) << third.out;
    EXPECT_EQ("2\n", read_file(params + "cur_profile"));
    EXPECT_EQ(0, control({"set", "cur_profile", "0"}).status);
    // A start returns at once; the description tells what runs when next made.
    const auto start = [](const std::string& daemon) {
      EXPECT_EQ(0, control({"start", daemon}).status);
      EXPECT_TRUE(wait_for([&] { return !pids_of_program(module + "/bin/" + daemon).empty(); }, 10000)) << daemon;
      EXPECT_EQ(0, control({"description"}).status);
    };
    start("vmkd");
    EXPECT_EQ(0, description().find("running: vmkd load-driven; stopped: calmd.")) << description();
    start("calmd");
    EXPECT_EQ(0, description().find("running: vmkd load-driven, calmd ")) << description();
    struct stat before, after;
    stat((module + "/module.prop").c_str(), &before);
    EXPECT_EQ(0, control({"description"}).status);
    stat((module + "/module.prop").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << "rewritten though nothing changed";
    EXPECT_EQ(0, control({"stop", "vmkd"}).status);
    EXPECT_EQ(0, control({"stop", "calmd"}).status);
    EXPECT_EQ(0, description().find("stopped: vmkd and calmd.")) << description();
  });
}

// Root managers ignore the Action button's exit status: what it prints says
// that the profile was not changed, and why.
TEST(Face, ActionButtonSaysWhenTheProfileWasNotChanged) {
  if (emulated()) GTEST_SKIP() << "the module's scripts start the packed binaries directly";
  in_sandbox([] {
    install_module();
    write_file("/data/media/0/vmk_params", "");
    const std::string action = module + "/action.sh";
    const command_result r = run_command(action, {action}, 30000);
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos,
              r.out.find("The profile was not changed: vmkctl: cur_profile could not be written (storage full or "
                         "not mounted?)\n"))
        << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("vmkd takes up to 10 s")) << r.out;
  });
}

}  // namespace
