// Runs inside the throwaway virtual phone (tools/phone_vm/phone-vm.sh) as root, with
// no sandbox: the real vmkd and calmd on a real Arm kernel, its cpusets, its
// /proc, its kernel threads and its kernel log.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/klog.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <regex>

#include "phone_setup.h"
#include "sandbox.h"
#include "trace_format.h"
#include "user_storage.h"

namespace {

using namespace sandbox;

// The kernel log as dmesg prints it (klogctl, the syslog interface).
std::string dmesg() {
  std::string text(1 << 20, '\0');
  const int n = klogctl(3, text.data(), static_cast<int>(text.size()));  // SYSLOG_ACTION_READ_ALL
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string cpus_of(const char* group) { return trimmed(read_file(std::string("/dev/cpuset/") + group + "/cpus")); }

// One write(2), as the daemons make it: 0, or the errno the kernel gave.
int write_once(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = ok ? 0 : errno;
  close(fd);
  return error;
}

pid_t start(const char* program) {
  return start_command(program, {program}, std::string(control_dir) + "/" + (strrchr(program, '/') + 1) + ".out");
}

void stop_all(const char* program) {
  for (int round = 0; round < 3; ++round)
    for (pid_t pid : pids_of_program(program)) kill(pid, SIGKILL);
  wait_for([&] { return pids_of_program(program).empty(); }, 5000);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

void set_param(const std::string& key, const std::string& text) {
  mkdir(phone::params, 0777);
  write_file(phone::params + key, text);
}

// Nice and policy of every kernel thread (no program file, no command line) and of init.
std::map<pid_t, std::pair<int, int>> kernel_threads_and_init() {
  std::map<pid_t, std::pair<int, int>> out;
  for (pid_t pid : all_pids()) {
    const std::string proc = "/proc/" + std::to_string(pid);
    if (pid != 1 && (access((proc + "/exe").c_str(), F_OK) == 0 || !read_file(proc + "/cmdline").empty())) continue;
    out[pid] = {nice_of(pid), policy_of(pid)};
  }
  return out;
}

// Those of the threads that were there both times whose nice or policy moved.
std::string changed(const std::map<pid_t, std::pair<int, int>>& before,
                    const std::map<pid_t, std::pair<int, int>>& after) {
  std::string out;
  for (const auto& [pid, scheduling] : after)
    if (const auto was = before.find(pid); was != before.end() && was->second != scheduling)
      out += comm_of(pid) + " (" + std::to_string(pid) + ") ";
  return out;
}

std::string allowed_cpus(pid_t pid) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("Cpus_allowed_list:\t");
  return at == std::string::npos ? "" : status.substr(at + 19, status.find('\n', at) - at - 19);
}

// The group of a process in the hierarchy of these controllers, as
// /proc/PID/cgroup names it ("" for the unified hierarchy).
std::string cgroup_of(pid_t pid, const std::string& controllers) {
  const std::string text = read_file("/proc/" + std::to_string(pid) + "/cgroup");
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const size_t first = line.find(':'), second = line.find(':', first + 1);
    if (second != std::string::npos && line.substr(first + 1, second - first - 1) == controllers)
      return line.substr(second + 1);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "(none)";
}

std::string fd_target(pid_t pid, int fd) {
  char target[512];
  const ssize_t n =
      readlink(("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "(closed)";
}

// The processes a cgroup.procs file lists.
std::vector<pid_t> listed(const std::string& procs) {
  std::vector<pid_t> pids;
  const std::string text = read_file(procs);
  char* end = nullptr;
  for (const char* at = text.c_str(); const long pid = strtol(at, &end, 10); at = end) pids.push_back(pid);
  return pids;
}

// What Android does to the groups of an app it reclaims: cgroup.kill where
// the kernel has it, then every process the groups list killed, again and
// again until they list none.
void kill_app_groups(const std::vector<std::string>& groups) {
  for (const std::string& group : groups) {
    if (exists(group + "/cgroup.kill")) {
      EXPECT_EQ(0, write_once(group + "/cgroup.kill", "1")) << group;
    }
  }
  for (int round = 0; round < 500; ++round) {
    bool empty = true;
    for (const std::string& group : groups)
      for (pid_t pid : listed(group + "/cgroup.procs")) {
        kill(pid, SIGKILL);
        empty = false;
      }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (empty) return;
    usleep(10000);
  }
  ADD_FAILURE() << "the app's groups still list processes";
}

class Phone : public ::testing::Test {
 protected:
  void TearDown() override {
    stop_all(phone::vmkd);
    stop_all(phone::calmd);
    stop_all(phone::module_vmkd);
    stop_all(phone::module_calmd);
    for (pid_t pid : started_) stop(pid);
    set_param("cur_profile", "2\n");
  }
  pid_t keep(pid_t pid) {
    started_.push_back(pid);
    return pid;
  }
  std::vector<pid_t> started_;
};

TEST_F(Phone, IsARealArmKernelLaidOutLikeAPhone) {
  utsname u;
  ASSERT_EQ(0, uname(&u));
  EXPECT_STREQ("aarch64", u.machine);
  const std::string stat = read_file("/proc/stat");
  unsigned long long counters[trace::cpu_counter_count];
  unsigned long long ctxt = 0;
  int cpus = 0, ctxt_at = 0;
  ASSERT_TRUE(trace::parse_proc_stat(stat.c_str(), counters, &ctxt, &cpus, &ctxt_at));
  EXPECT_EQ(8, cpus);
  EXPECT_LT(ctxt_at, 2048) << "calmd reads the first 2048 bytes";
  phone::fact("proc_stat_bytes", std::to_string(stat.size()));
  phone::fact("ctxt_at", std::to_string(ctxt_at));
  EXPECT_NE(std::string::npos, read_file("/proc/version").find("-VmK "));
  EXPECT_NE(std::string::npos, read_file("/proc/mounts").find(" /dev/cpuset cgroup "));
  EXPECT_NE(std::string::npos, read_file("/sys/block/vda/queue/scheduler").find("[bfq]"));
  phone::fact("io_schedulers", trimmed(read_file("/sys/block/vda/queue/scheduler")));
  for (const char* tunable : {"request_priority", "low_latency", "wr_coeff", "wr_min_idle_time", "wr_max_time"})
    phone::fact(std::string("bfq_") + tunable,
                exists(std::string("/sys/block/vda/queue/iosched/") + tunable) ? "yes" : "no");
  phone::fact("debugfs_sched_features", exists("/sys/kernel/debug/sched_features") ? "yes" : "no");
  phone::fact("debugfs_sched_slash_features", exists("/sys/kernel/debug/sched/features") ? "yes" : "no");
  phone::fact("zram0_disksize", trimmed(read_file("/sys/block/zram0/disksize")));
  phone::fact("extfrag_threshold", trimmed(read_file("/proc/sys/vm/extfrag_threshold")));
}

// The real cgroup refuses what a plain file (the sandbox's) takes; the
// daemons must live with that.
TEST_F(Phone, RealCpusetsRefuseWhatAFileTakes) {
  EXPECT_EQ(ERANGE, write_once("/dev/cpuset/top-app/cpus", "0-9\n"));
  EXPECT_EQ("0-7", cpus_of("top-app"));
  EXPECT_EQ(0, write_once("/dev/cpuset/top-app/cpus", "0-1,2\n"));
  EXPECT_EQ("0-2", cpus_of("top-app")) << "read back in the kernel's own form";
  // A group with tasks needs CPUs; a group cannot shrink below a child's.
  const pid_t idle = keep(spawn({"cpuset.idler"}));
  EXPECT_EQ(0, write_once("/dev/cpuset/top-app/tasks", std::to_string(idle)));
  EXPECT_EQ(ENOSPC, write_once("/dev/cpuset/top-app/cpus", "\n"));
  EXPECT_EQ("0-2", allowed_cpus(idle));
  EXPECT_EQ(0, write_once("/dev/cpuset/top-app/cpus", "0-7\n"));
  ASSERT_EQ(0, mkdir("/dev/cpuset/foreground/boost", 0755));
  write_once("/dev/cpuset/foreground/boost/mems", "0");
  write_once("/dev/cpuset/foreground/cpus", "0-7");
  write_once("/dev/cpuset/foreground/boost/cpus", "0-7");
  EXPECT_EQ(EBUSY, write_once("/dev/cpuset/foreground/cpus", "2,4-7\n"));
  EXPECT_EQ(0, rmdir("/dev/cpuset/foreground/boost"));
  write_once("/dev/cpuset/foreground/cpus", "0-3,6-7\n");
}

// Load-driven scaling: the first cycle, then a load that takes all eight
// CPUs, then quiet again, seen in the real cpuset files and in what the
// kernel lets a top-app process run on.
TEST_F(Phone, VmkdScalesTheRealCpusetsWithTheLoad) {
  set_param("cur_profile", "0\n");
  set_focused_app("com.example.app");
  const pid_t app = keep(spawn({"com.example.app", {"com.example.app"}}));
  ASSERT_EQ(0, write_once("/dev/cpuset/top-app/tasks", std::to_string(app)));
  keep(start(phone::vmkd));
  const std::string min_freq = "/sys/devices/system/cpu/cpufreq/policy0/scaling_min_freq";
  ASSERT_TRUE(wait_for([&] { return trimmed(read_file(min_freq)) == "614400"; }, 30000)) << "no load-driven cycle";
  phone::fact("first_cycle_top_app", cpus_of("top-app"));
  const pid_t load = keep(spawn({"load", {"load"}, true, "", false, "", 8}));
  EXPECT_TRUE(wait_for([] { return cpus_of("top-app") == "0-7" && cpus_of("foreground") == "2,4-7"; }, 30000))
      << cpus_of("top-app") << " " << cpus_of("foreground");
  EXPECT_EQ("0-7", allowed_cpus(app));
  stop(load);
  EXPECT_TRUE(wait_for([] { return cpus_of("top-app") != "0-7"; }, 40000)) << "still " << cpus_of("top-app");
  const std::string quiet = cpus_of("top-app");
  phone::fact("quiet_top_app", quiet);
  // The kernel itself now keeps the app on the CPUs vmkd chose.
  EXPECT_TRUE(wait_for([&] { return allowed_cpus(app) == cpus_of("top-app"); }, 2000)) << allowed_cpus(app);
  EXPECT_NE(std::string::npos,
            read_file(std::string(control_dir) + "/setprop.log").find("persist.vmk.profile.reapply 0"));
}

// A busy background process goes down to nice 19 and SCHED_IDLE, its parent
// is pushed too, and the focused app stays at -4, by the real kernel's word.
TEST_F(Phone, CalmdPushesBusyBackgroundWorkDownAndHoldsTheFocusedApp) {
  set_focused_app("com.example.app");
  const pid_t app = keep(spawn({"com.example.app", {"com.example.app"}, true}));
  const pid_t parent = keep(spawn({"sync.parent", {"sync.parent"}, false, "com.example.syn", true, "", 4}));
  const std::vector<pid_t> children = pids_named("com.example.syn");
  ASSERT_EQ(1u, children.size());
  const pid_t sync = children[0];
  keep(start(phone::calmd));
  EXPECT_TRUE(wait_for([&] { return nice_of(sync) == 19 && policy_of(sync) == SCHED_IDLE; }, 60000))
      << nice_of(sync) << " " << policy_of(sync);
  EXPECT_EQ(-4, nice_of(app));
  EXPECT_EQ(SCHED_OTHER, policy_of(app));
  EXPECT_GT(nice_of(parent), 0);
  const std::string log = dmesg();
  const std::string sync_line = "[calm]: com.example.syn (" + std::to_string(sync) + "): ";
  EXPECT_NE(std::string::npos, log.find(sync_line)) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
  EXPECT_NE(std::string::npos, log.find(">3)\n", log.find(sync_line))) << "no line with SCHED_BATCH";
  EXPECT_NE(std::string::npos, log.find("parent (sync.parent (" + std::to_string(parent) + ")) throttled"));
}

// A minute of both daemons with load, a child cpuset that makes the kernel
// refuse every shrink of "foreground", and the writes a mainline kernel has
// no file for: they run on, kernel threads and init untouched; then a child
// of vmkd that is killed is reported in the real kernel log.
TEST_F(Phone, DaemonsRunAMinuteOnRefusedWritesAndLeaveKernelThreadsAlone) {
  const auto before = kernel_threads_and_init();
  ASSERT_EQ(0, mkdir("/dev/cpuset/foreground/boost", 0755));
  write_once("/dev/cpuset/foreground/boost/mems", "0");
  write_once("/dev/cpuset/foreground/cpus", "0-7");
  write_once("/dev/cpuset/foreground/boost/cpus", "0-7");
  set_param("cur_profile", "0\n");
  set_focused_app("com.example.app");
  keep(spawn({"com.example.app", {"com.example.app"}}));
  keep(spawn({"worker", {"worker"}, true, "", false, "", 2}));
  // Each load-driven cycle runs setprop once.
  const std::string setprop = std::string(control_dir) + "/setprop.log";
  const int cycles_before = count_of(read_file(setprop), "reapply 0\n");
  const int passes_before = count_of(dmesg(), "[calm]: ___Active");
  const pid_t vmkd = keep(start(phone::vmkd));
  const pid_t calmd = keep(start(phone::calmd));
  usleep(60 * 1000000);
  const int scaling_cycles = count_of(read_file(setprop), "reapply 0\n") - cycles_before;
  const int passes = count_of(dmesg(), "[calm]: ___Active") - passes_before;
  EXPECT_GT(scaling_cycles, 60);
  EXPECT_GT(passes, 10);
  phone::fact("scaling_cycles_per_minute", std::to_string(scaling_cycles));
  phone::fact("throttle_passes_per_minute", std::to_string(passes));
  EXPECT_EQ(3u, pids_of_program(phone::vmkd).size());
  EXPECT_EQ(1u, pids_of_program(phone::calmd).size());
  long vmkd_ticks = 0;
  for (pid_t pid : pids_of_program(phone::vmkd)) vmkd_ticks += own_ticks(pid);
  phone::fact("vmkd_cpu_seconds_per_minute", std::to_string(static_cast<double>(vmkd_ticks) / 100));
  phone::fact("calmd_cpu_seconds_per_minute", std::to_string(static_cast<double>(own_ticks(calmd)) / 100));
  EXPECT_EQ("0-7", cpus_of("foreground")) << "the kernel took a shrink below the child";
  EXPECT_EQ(std::string::npos, dmesg().find("is not running"));
  EXPECT_EQ("", changed(before, kernel_threads_and_init())) << "kernel threads or init changed";
  rmdir("/dev/cpuset/foreground/boost");

  pid_t sscaling = 0;
  for (pid_t pid : pids_of_program(phone::vmkd))
    if (parent_of(pid) == vmkd && (sscaling == 0 || pid < sscaling)) sscaling = pid;
  ASSERT_GT(sscaling, 0);
  kill(sscaling, SIGKILL);
  EXPECT_TRUE(
      wait_for([] { return dmesg().find("vmkd: sscaling process is not running...") != std::string::npos; }, 30000));
}

// The page's Start button runs control.sh in a root shell of the manager
// app, in the app's cgroups; when Android reclaims the app and kills its
// groups, the daemons started there run on, where a boot-started one runs:
// in the root groups, on /dev/null, in sessions of their own.
TEST_F(Phone, DaemonsStartedFromThePageOutliveTheManagerApp) {
  const pid_t app = fork();
  ASSERT_GE(app, 0);
  if (app == 0) {
    const std::string uid = "/uid_10123", group = uid + "/pid_" + std::to_string(getpid());
    for (const char* hierarchy : phone::app_hierarchies) {
      mkdir((hierarchy + uid).c_str(), 0755);
      mkdir((hierarchy + group).c_str(), 0755);
      if (write_once(hierarchy + group + "/cgroup.procs", std::to_string(getpid())) != 0) _exit(100);
    }
    const std::string control = std::string("sh ") + phone::module + "/control.sh";
    const std::string page = control + " start calmd; " + control + " start vmkd; sleep 600";
    execl("/system/bin/sh", "sh", "-c", page.c_str(), nullptr);
    _exit(127);
  }
  keep(app);
  const std::string group = "/uid_10123/pid_" + std::to_string(app);
  ASSERT_TRUE(wait_for([&] { return cgroup_of(app, "") == group; }, 5000)) << "the app is not in its group";
  ASSERT_TRUE(wait_for(
      [] {
        return pids_of_program(phone::module_calmd).size() == 1 && pids_of_program(phone::module_vmkd).size() == 3;
      },
      30000))
      << "the page's commands started no daemons";

  std::vector<std::string> groups;
  for (const char* hierarchy : phone::app_hierarchies) groups.push_back(hierarchy + group);
  phone::fact("cgroup_kill", exists(groups[0] + "/cgroup.kill") ? "yes" : "no");
  kill_app_groups(groups);
  for (const char* hierarchy : phone::app_hierarchies) {
    EXPECT_EQ(0, rmdir((hierarchy + group).c_str())) << hierarchy << ": " << strerror(errno);
    rmdir((std::string(hierarchy) + "/uid_10123").c_str());
  }

  for (const char* program : {phone::module_calmd, phone::module_vmkd}) {
    const std::vector<pid_t> pids = pids_of_program(program);
    EXPECT_FALSE(pids.empty()) << program << " died with the app";
    for (pid_t pid : pids) {
      const std::string root = cgroup_of(pid, ""), cpuacct = cgroup_of(pid, "cpuacct"),
                        memory = cgroup_of(pid, "memory");
      std::string fds[3];
      for (int fd = 0; fd < 3; ++fd) fds[fd] = fd_target(pid, fd);
      // The daemon leads its own session; vmkd's helpers are in its.
      pid_t leader = pid;
      while (std::find(pids.begin(), pids.end(), parent_of(leader)) != pids.end()) leader = parent_of(leader);
      const pid_t session = getsid(pid);
      // A child a daemon forks to run a command has its program only until it
      // execs or ends: only what still runs the daemon's program counts.
      const std::vector<pid_t> now = pids_of_program(program);
      if (std::find(now.begin(), now.end(), pid) == now.end()) continue;
      EXPECT_EQ("/", root) << program;
      EXPECT_EQ("/", cpuacct) << program;
      EXPECT_EQ("/apps", memory) << program;
      for (int fd = 0; fd < 3; ++fd) EXPECT_EQ("/dev/null", fds[fd]) << program << " fd " << fd;
      EXPECT_EQ(leader, session) << program;
    }
  }
}

// Every entry under a folder, the folder first, by the names the kernel
// shows (encrypted ones while the folder is locked). Folders are listed;
// no file is opened.
std::vector<std::string> entries_under(const std::string& dir) {
  std::vector<std::string> paths = {dir};
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return paths;
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::vector<std::string> below = entries_under(dir + "/" + name);
    paths.insert(paths.end(), below.begin(), below.end());
  }
  return paths;
}

// What lstat tells of each: on a strictatime mount a listing, a read or a
// write since changes a line.
std::string stat_lines(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& path : paths) {
    struct stat st;
    char line[160] = " gone";
    if (lstat(path.c_str(), &st) == 0)
      snprintf(line, sizeof line, " inode %llu size %lld atime %lld.%09ld mtime %lld.%09ld ctime %lld.%09ld",
               static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
               static_cast<long long>(st.st_atim.tv_sec), st.st_atim.tv_nsec, static_cast<long long>(st.st_mtim.tv_sec),
               st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    out += path + line + "\n";
  }
  return out;
}

// The user's storage encrypted for the test, over the tmpfs one; the boot
// script, whose loops run on in the background, in a process group of its own.
class EncryptedStoragePhone : public Phone {
 protected:
  void TearDown() override {
    if (boot_script_ > 0) kill(-boot_script_, SIGKILL);
    Phone::TearDown();
    phone::unmount_encrypted_storage();
  }
  // As a root manager runs it at the late_start service stage.
  void start_boot_script() {
    boot_script_ = fork();
    ASSERT_GE(boot_script_, 0);
    if (boot_script_ == 0) {
      setpgid(0, 0);
      const int out =
          open((std::string(control_dir) + "/service.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      execl("/system/bin/sh", "sh", (std::string(phone::module) + "/service.sh").c_str(), nullptr);
      _exit(127);
    }
    setpgid(boot_script_, boot_script_);
  }
  pid_t boot_script_ = 0;
};

// A phone with file-based encryption boots with the user's storage locked:
// its names read encrypted and nothing there opens. The boot script starts
// calmd at boot completion, but vmkd only after the first unlock, touching
// nothing there before; vmkd then runs the profile the user saved, not the
// default.
TEST_F(EncryptedStoragePhone, BootScriptStartsVmkdAfterTheFirstUnlock) {
  std::string error;
  ASSERT_TRUE(phone::mount_encrypted_storage(&error)) << error;
  // Unlocked: what vold makes there, and the user's profile, set with the module's own tool.
  ASSERT_EQ(0, mkdir("/data/media/0/Android", 0771));
  const std::string vmkctl = std::string(phone::module) + "/bin/vmkctl";
  const command_result saved = run_command(vmkctl, {vmkctl, "set", "cur_profile", "0"}, 30000);
  ASSERT_EQ(0, saved.status) << saved.out << saved.err;
  ASSERT_EQ("0\n", read_file(std::string(phone::params) + "cur_profile"));
  ASSERT_TRUE(phone::lock_storage(&error)) << error;

  const std::vector<std::string> paths = entries_under("/data/media/0");
  std::string listing;
  for (const std::string& path : paths) listing += path + "\n";
  ASSERT_EQ(4u, paths.size()) << listing;  // the folder, Android, vmk_params, cur_profile
  for (const char* name : {"/Android", "/vmk_params", "/cur_profile"})
    EXPECT_EQ(std::string::npos, listing.find(name)) << "not locked:\n" << listing;
  const int made = open("/data/media/0/new", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int why = errno;
  EXPECT_EQ(-1, made);
  EXPECT_EQ(ENOKEY, why) << strerror(why);
  const std::string untouched = stat_lines(paths);
  std::string names;
  for (const std::string& path : paths)
    if (path.size() > paths[0].size() && path.find('/', paths[0].size() + 1) == std::string::npos)
      names += (names.empty() ? "" : " ") + path.substr(paths[0].size() + 1);
  phone::fact("locked_user_storage", names);

  const std::string setprop = std::string(control_dir) + "/setprop.log";
  const std::string min_freq = "/sys/devices/system/cpu/cpufreq/policy0/scaling_min_freq";
  const std::string prop = std::string(phone::module) + "/module.prop";
  const size_t setprop_before = read_file(setprop).size();
  write_file(min_freq, "300000\n");  // its boot value; a load-driven cycle writes 614400
  write_file(std::string(control_dir) + "/prop.sys.boot_completed", "1\n");
  start_boot_script();
  EXPECT_TRUE(wait_for([] { return pids_of_program(phone::module_calmd).size() == 1; }, 30000)) << "no calmd";
  EXPECT_TRUE(wait_for([&] { return waitpid(boot_script_, nullptr, WNOHANG) == boot_script_; }, 10000))
      << "the boot script waits in the foreground";
  // "running: calmd N throttled; vmkd waits for the first unlock", once the loop has seen calmd.
  EXPECT_TRUE(wait_for(
      [&] {
        const std::string text = read_file(prop);
        return text.find("=running: calmd ") != std::string::npos &&
               text.find(" throttled; vmkd waits for the first unlock. ") != std::string::npos;
      },
      25000))
      << read_file(prop);
  const std::string description = read_file(prop);
  if (const size_t at = description.find("description="); at != std::string::npos)
    phone::fact("description_before_unlock", description.substr(at + 12, description.find(". ", at) - at - 12));
  const command_result page =
      run_command("/system/bin/sh", {"sh", std::string(phone::module) + "/control.sh", "start", "vmkd"}, 30000);
  EXPECT_EQ(1, page.status);
  EXPECT_NE(std::string::npos, page.err.find("after the first unlock")) << page.err;
  // Locked for 20 s more.
  EXPECT_FALSE(wait_for([] { return !pids_of_program(phone::module_vmkd).empty(); }, 20000))
      << "vmkd started before the first unlock";
  EXPECT_EQ(untouched, stat_lines(paths)) << "the user's storage was listed, read or written before the unlock";
  EXPECT_EQ(paths, entries_under("/data/media/0"));

  ASSERT_TRUE(phone::unlock_storage(&error)) << error;
  const long long unlocked = monotonic_ms();
  long long vmkd_at = 0, applied_at = 0;
  wait_for(
      [&] {
        if (vmkd_at == 0 && !pids_of_program(phone::module_vmkd).empty()) vmkd_at = monotonic_ms();
        if (read_file(setprop).find("persist.vmk.profile.reapply", setprop_before) != std::string::npos)
          applied_at = monotonic_ms();
        return applied_at != 0;
      },
      40000);
  ASSERT_NE(0, applied_at) << "no profile applied within 40 s of the unlock";
  const std::string applied = read_file(setprop).substr(setprop_before);
  EXPECT_EQ(0u, applied.rfind("persist.vmk.profile.reapply 0\n", 0)) << "not the user's profile first:\n" << applied;
  EXPECT_EQ(std::string::npos, applied.find("reapply 1")) << "vmkd ran the default profile:\n" << applied;
  EXPECT_TRUE(wait_for([&] { return trimmed(read_file(min_freq)) == "614400"; }, 5000)) << read_file(min_freq);
  EXPECT_EQ("0\n", read_file(std::string(phone::params) + "cur_profile"));
  phone::fact("unlock_to_vmkd_started_ms", std::to_string(vmkd_at - unlocked));
  phone::fact("unlock_to_profile_applied_ms", std::to_string(applied_at - unlocked));
  EXPECT_TRUE(wait_for([&] { return read_file(prop).find("running: vmkd load-driven") != std::string::npos; }, 15000))
      << read_file(prop);
}

// What the page's refresh costs on the real kernel: control.sh status as the
// root manager runs it, with the counters of the status before, as the page
// passes them; and the focus the user asks for, with dumpsys.
TEST_F(Phone, ThePagesRefreshCostsLittle) {
  const auto cpu_ms = [] {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
  };
  const std::string control = std::string(phone::module) + "/control.sh";
  std::string counters;
  for (const char* command : {"status", "focus"}) {
    constexpr int calls = 10;
    const double cpu_before = cpu_ms();
    const long long start = monotonic_ms();
    for (int i = 0; i < calls; ++i) {
      std::vector<std::string> argv = {"sh", control, command};
      if (!counters.empty()) argv.push_back(counters);
      const command_result r = run_command("/system/bin/sh", argv, 30000);
      ASSERT_EQ(0, r.status) << r.err;
      const size_t at = r.out.find("\"counters\":\"");
      ASSERT_NE(std::string::npos, at) << r.out;
      counters = r.out.substr(at + 12, r.out.find('"', at + 12) - at - 12);
    }
    char figure[96];
    snprintf(figure, sizeof figure, "%.1f ms wall, %.1f ms CPU per call",
             static_cast<double>(monotonic_ms() - start) / calls, (cpu_ms() - cpu_before) / calls);
    phone::fact(std::string("page_") + command, figure);
  }
}

// The one-shot commands on real processes, kernel threads and init.
TEST_F(Phone, CalmdCommandsOnTheRealKernel) {
  set_focused_app("com.example.app");
  const pid_t one = keep(spawn({"com.example.one", {"com.example.one"}}));
  const pid_t app = keep(spawn({"com.example.app", {"com.example.app"}}));
  auto calmd = [](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {phone::calmd};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(phone::calmd, argv, 30000);
  };
  EXPECT_EQ(0, calmd({"-t", "com.example.one", "5", "0", "0"}).status);
  EXPECT_EQ(5, nice_of(one));
  EXPECT_EQ(0, calmd({"-t", "com.example.one", "9", "3", "0"}).status);
  EXPECT_EQ(SCHED_BATCH, policy_of(one));
  EXPECT_EQ(0, nice_of(one));
  EXPECT_EQ("com.example.app\n", calmd({"-c", "-7"}).out);
  EXPECT_EQ(-7, nice_of(app));
  const auto threads = kernel_threads_and_init();
  EXPECT_EQ(0, calmd({"-s"}).status);
  EXPECT_NE(std::string::npos, dmesg().find("[calm]: ___Active,_ctxt:2147483647,nr:1___"));
  EXPECT_EQ("", changed(threads, kernel_threads_and_init())) << "a pass changed a kernel thread";
  // "-rk": nice 0 for every kernel thread, policies kept.
  EXPECT_EQ(0, calmd({"-rk"}).status);
  int moved = 0;
  for (const auto& [pid, scheduling] : kernel_threads_and_init()) {
    if (pid == 1 || threads.count(pid) == 0) continue;
    EXPECT_EQ(0, scheduling.first) << comm_of(pid);
    EXPECT_EQ(threads.at(pid).second, scheduling.second) << comm_of(pid);
    moved += threads.at(pid).first != 0;
  }
  phone::fact("rk_kernel_threads_moved_to_nice_0", std::to_string(moved));
  // "-r": normal scheduling for all, init included, where the kernel lets it.
  EXPECT_EQ(0, calmd({"-r"}).status);
  std::string kept_real_time;
  for (const auto& [pid, scheduling] : kernel_threads_and_init())
    if (scheduling.second != SCHED_OTHER) kept_real_time += comm_of(pid) + " ";
  phone::fact("r_real_time_threads_the_kernel_kept", trimmed(kept_real_time));
  EXPECT_EQ(SCHED_OTHER, policy_of(1));
  EXPECT_EQ(0, nice_of(1));
  EXPECT_EQ(SCHED_OTHER, policy_of(one));
  EXPECT_EQ(0, nice_of(app));
}

// An app's work runs in a worker while its main thread waits: by the real
// kernel's word the pass moves the worker with the main thread, to the values
// it logs, and leaves the threads set apart (nice 10; SCHED_FIFO) as they were.
TEST_F(Phone, CalmdThrottlesAnAppsThreadsInStepWithItsMainThread) {
  // At nice 6 every usage changes the main thread.
  const pid_t miner = keep(spawn(app_like("com.evil.miner", 6, SCHED_OTHER, true)));
  ASSERT_EQ("", out_of_step(miner, 6, SCHED_OTHER));
  EXPECT_EQ(0, run_command(phone::calmd, {phone::calmd, "-s"}, 30000).status);
  const std::string log = dmesg();
  std::smatch line;
  ASSERT_TRUE(std::regex_search(log, line,
                                std::regex("\\[calm\\]: com.evil.miner \\(" + std::to_string(miner) +
                                           "\\): (?:[0-9]+% \\[-1 jiff\\], )?=> 6>(-?[0-9]+) \\(0>([0-9])\\)\n")))
      << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
  EXPECT_EQ("", out_of_step(miner, std::stoi(line[1]), std::stoi(line[2]))) << line[0];
  phone::fact("threads_in_step_throttle_line", trimmed(line[0]));
}

// "-r" takes a worker that moved with its main thread back with it.
TEST_F(Phone, CalmdResetTakesAnAppsThreadsInStepBack) {
  const pid_t app = keep(spawn(app_like("com.example.batch", 12, SCHED_BATCH, false)));
  ASSERT_EQ("", out_of_step(app, 12, SCHED_BATCH));
  EXPECT_EQ(0, run_command(phone::calmd, {phone::calmd, "-r"}, 30000).status);
  EXPECT_EQ("", out_of_step(app, 0, SCHED_OTHER));
}

// A name with a newline must not make dmesg show a line calmd never wrote.
TEST_F(Phone, ANameCannotForgeACalmdLineInDmesg) {
  const pid_t forger = keep(spawn({"x\n[calm]: forged", {"forger"}, true}));
  EXPECT_EQ(0, run_command(phone::calmd, {phone::calmd, "-s"}, 30000).status);
  const std::string log = dmesg();
  EXPECT_NE(std::string::npos, log.find(" (" + std::to_string(forger) + "): ")) << "the forger was not logged";
  EXPECT_EQ(std::string::npos, log.find("] [calm]: forge")) << "dmesg shows a forged calmd line";
}

TEST_F(Phone, VmktraceRecordsTheRealKernel) {
  set_focused_app("com.example.app");
  const command_result r = run_command(phone::vmktrace, {phone::vmktrace, "--seconds", "2"}, 30000);
  ASSERT_EQ(0, r.status) << r.err;
  trace::header h;
  char error[trace::error_size];
  ASSERT_TRUE(trace::parse_header(r.out.substr(0, r.out.find('\n')).c_str(), 1, &h, error)) << error;
  EXPECT_EQ(8, h.cpus);
  phone::fact("trace_header", r.out.substr(0, r.out.find(" S=")));
  EXPECT_NE(std::string::npos, r.out.find("\tcom.example.app\n")) << "no focused app in the samples";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests is harmless anywhere; running them is not.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (!phone::on_throwaway_phone()) {
    fprintf(stderr, "phone_tests: not on the throwaway virtual phone (tools/phone_vm/phone-vm.sh): nothing run\n");
    return 2;
  }
  sandbox::set_standin_program("/vmk/sb_proc");
  if (!phone::become_phone()) return 3;
  return RUN_ALL_TESTS();
}
