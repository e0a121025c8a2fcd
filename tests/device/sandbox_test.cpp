// The sandbox itself: what it shows inside, and that nothing leaks out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "device_support.h"

namespace {

using namespace sandbox;

// What the host has at a path: "absent", or its type and (for files) content.
std::string host_state(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  if (!S_ISREG(st.st_mode)) return "type " + std::to_string(st.st_mode & S_IFMT);
  return "file " + read_file(path);
}

std::vector<std::string> shadowed_paths() {
  std::vector<std::string> paths;
  for (const fake_file& f : device_files()) paths.push_back(f.path);
  for (const char* p : {"/dev/kmsg", "/data/media/0/vmk_params", "/data/calmd.lock", "/system/bin/setprop",
                        "/proc/version", control_dir})
    paths.push_back(p);
  return paths;
}

TEST(Sandbox, WritesToEveryShadowedPathStayInside) {
  std::map<std::string, std::string> before;
  for (const std::string& p : shadowed_paths()) before[p] = host_state(p);

  in_sandbox([] {
    for (const fake_file& f : device_files()) EXPECT_TRUE(write_file(f.path, "12345\n")) << f.path;
    EXPECT_EQ("12345\n", read_file("/proc/sys/vm/extfrag_threshold"));
    EXPECT_TRUE(write_file("/data/calmd.lock", "1\n"));
    EXPECT_TRUE(write_file("/data/media/0/vmk_params", "x"));
    EXPECT_TRUE(write_file("/system/bin/setprop", "x"));
    EXPECT_TRUE(write_file("/proc/version", "x"));
    const int kmsg = open("/dev/kmsg", O_WRONLY);
    EXPECT_EQ(5, write(kmsg, "hello", 5));
    close(kmsg);
    EXPECT_TRUE(wait_for([] { return kernel_log() == "hello"; }, 2000));
    // The random pools are plain files in here.
    struct stat st;
    EXPECT_TRUE(stat("/dev/urandom", &st) == 0 && S_ISREG(st.st_mode));
    // Everything else the host has is out of reach.
    for (const char* p : {"/proc/sys/kernel/hostname", "/proc/sys/vm/swappiness", "/proc/sysrq-trigger",
                          "/usr/vmk-probe", "/etc/vmk-probe", VMK_BUILD_DIR "/vmk-probe"})
      EXPECT_FALSE(write_file(p, "1\n")) << p;
  });

  for (const std::string& p : shadowed_paths()) EXPECT_EQ(before[p], host_state(p)) << p;
  EXPECT_FALSE(exists(VMK_BUILD_DIR "/vmk-probe"));
}

TEST(Sandbox, ShowsTheChosenKernelAndControlledCounters) {
  sandbox::options o = device_options();
  o.velmora_kernel = false;
  o.fake_stat = true;
  o.fake_loadavg = true;
  in_sandbox(o, [] {
    EXPECT_EQ(std::string::npos, read_file("/proc/version").find("VmK"));
    set_proc_stat("cpu  1 2 3 4 5 6 7 0 0 0\nctxt 99\n");
    EXPECT_EQ("cpu  1 2 3 4 5 6 7 0 0 0\nctxt 99\n", read_file("/proc/stat"));
    set_proc_loadavg("9.00 1.00 1.00 6/100 300\n");
    EXPECT_EQ("9.00 1.00 1.00 6/100 300\n", read_file("/proc/loadavg"));
  });
  in_sandbox([] { EXPECT_NE(std::string::npos, read_file("/proc/version").find("VmK")); });
}

TEST(Sandbox, StartsProcessesWithChosenNamesPidsAndUsers) {
  in_sandbox([] {
    const pid_t low = spawn_at(150, {"ksmd", {"/ksmd"}});
    EXPECT_EQ(150, low);
    const pid_t logd = spawn({"logd", {"/system/bin/logd"}});
    EXPECT_GT(logd, 200);
    EXPECT_EQ("logd", comm_of(logd));
    EXPECT_EQ(std::string("/system/bin/logd\0", 17), read_file("/proc/" + std::to_string(logd) + "/cmdline"));
    EXPECT_EQ(0, nice_of(logd));
    EXPECT_EQ(0, policy_of(logd));

    const pid_t parent = spawn({"appmain", {"com.example.app"}, false, "worker", true});
    const std::vector<pid_t> workers = pids_named("worker");
    ASSERT_EQ(1u, workers.size());
    EXPECT_EQ(parent, parent_of(workers[0]));
    EXPECT_EQ('R', state_of(workers[0]));

    const pid_t kthread = spawn_kernel_thread_lookalike("kworker/0:1");
    EXPECT_EQ("", read_file("/proc/" + std::to_string(kthread) + "/cmdline"));
    EXPECT_FALSE(exists("/proc/" + std::to_string(kthread) + "/exe") &&
                 access(("/proc/" + std::to_string(kthread) + "/exe").c_str(), F_OK) == 0);

    const command_result id = run_command("/usr/bin/id", {"id", "-u"}, 5000, 65534);
    EXPECT_EQ("65534\n", id.out);

    // An Android 13 phone prints the focus only in the display section.
    set_focused_app("com.example.app");
    for (const std::string form : {"windows", "displays"}) {
      const command_result focus = run_command(
          "/system/bin/sh", {"sh", "-c", "dumpsys window " + form + " | grep mCurrentFocus | cut -d ' ' -f5"});
      EXPECT_EQ(form == "windows" ? "" : "com.example.app/com.example.app.MainActivity}\n", focus.out);
    }
    run_command("/system/bin/sh", {"sh", "-c", "setprop persist.vmk.profile.reapply 1"});
    EXPECT_EQ("persist.vmk.profile.reapply 1\n", setprop_log());
  });
}

TEST(Sandbox, EverythingStartedInsideEndsWithTheRun) {
  const std::string marker = "vmk-leak-check-" + std::to_string(getpid());
  in_sandbox([&] {
    spawn({"leaker", {marker}});
    spawn({"busy-leaker", {marker}, true});
  });
  auto host_has_marker = [&] {
    for (pid_t pid : all_pids())
      if (read_file("/proc/" + std::to_string(pid) + "/cmdline").find(marker) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(wait_for([&] { return !host_has_marker(); }, 5000));
}

// The kernel files a program names: each path under the tunable trees in its
// strings, as a run of the shell would take it. This build's daemons link a
// shared C library, so their strings are their own.
std::vector<std::string> kernel_paths_named_by(const std::string& program) {
  std::ifstream file(program, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> paths;
  for (const char* tree : {"/sys/", "/proc/sys/", "/dev/cpuset/", "/dev/stune/"}) {
    for (size_t at = bytes.find(tree); at != std::string::npos; at = bytes.find(tree, at + 1)) {
      if (at > 0 && (isalnum(static_cast<unsigned char>(bytes[at - 1])) || bytes[at - 1] == '/')) continue;
      size_t end = at;
      while (end < bytes.size() && isgraph(static_cast<unsigned char>(bytes[end])) && !strchr(";>\"'<|&", bytes[end]))
        ++end;
      paths.push_back(bytes.substr(at, end - at));
    }
  }
  return paths;
}

TEST(Sandbox, EveryKernelFileTheDaemonsNameHasAFake) {
  int named = 0;
  for (const char* program : {VMKD_BINARY, CALMD_BINARY}) {
    for (const std::string& path : kernel_paths_named_by(program)) {
      ++named;
      // A shell loop's pattern ("/sys/block/*") needs one file under it.
      const size_t star = path.find('*');
      const bool faked = std::any_of(device_files().begin(), device_files().end(), [&](const fake_file& f) {
        return star == std::string::npos ? path == f.path : std::string(f.path).rfind(path.substr(0, star), 0) == 0;
      });
      EXPECT_TRUE(faked) << program << " names " << path << ": give it a boot value in the sandbox's device tree";
    }
  }
  EXPECT_GT(named, 40) << "the daemons' strings were not read";
}

}  // namespace
