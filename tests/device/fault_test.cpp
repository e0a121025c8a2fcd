// Faults of the platform: kernel files missing, empty or full of garbage,
// storage away or booby-trapped, a hung dumpsys, no /dev/kmsg. Both daemons
// must do what they document and keep running.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device_support.h"

namespace {

using namespace sandbox;

const std::string params = "/data/media/0/vmk_params";

struct daemons {
  pid_t vmkd, calmd;
};

daemons start_both() {
  return {start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out"),
          start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out")};
}

// Both still there after some cycles: three vmkd processes and the calmd daemon.
void expect_running(const daemons& d, int settle_ms = 2500) {
  usleep(static_cast<useconds_t>(settle_ms) * 1000);
  // A shell vmkd is starting runs the daemon's program until its exec (for
  // long, under the emulator): look again rather than count it.
  EXPECT_TRUE(wait_for([] { return pids_of_program(vmkd_binary).size() == 3; }, 2000))
      << pids_of_program(vmkd_binary).size() << " vmkd processes";
  EXPECT_EQ(0, waitpid(d.calmd, nullptr, WNOHANG)) << "calmd ended";
  EXPECT_EQ(0, waitpid(d.vmkd, nullptr, WNOHANG)) << "vmkd ended";
}

void fill_kernel_files(const std::string& text) {
  for (const fake_file& f : device_files()) write_file(f.path, text);
}

TEST(Faults, KernelFilesMissing) {
  in_sandbox([] {
    for (const char* tree : {"/sys/module", "/sys/devices", "/sys/kernel", "/sys/block", "/dev/cpuset", "/dev/stune"})
      EXPECT_EQ(0, system((std::string("rm -rf ") + tree).c_str()));
    const daemons d = start_both();
    expect_running(d);
    EXPECT_FALSE(exists("/sys/module/fair"));  // nothing created where the kernel has nothing
    EXPECT_EQ("2\n", read_file(params + "/cur_profile"));
    EXPECT_EQ(0, run_command(calmd_binary, {calmd_binary, "-s"}).status);
  });
}

TEST(Faults, KernelFilesEmptyOrGarbage) {
  sandbox::options o = device_options();
  o.fake_stat = true;
  o.fake_loadavg = true;
  static constexpr char garbage[] = "\xff\x00garbage %n %s\n";
  for (const std::string& text : {std::string(), std::string(garbage, sizeof garbage - 1), std::string(5000, '9')}) {
    in_sandbox(o, [&] {
      fill_kernel_files(text);
      set_proc_stat(text);
      set_proc_loadavg(text);
      mkdir(params.c_str(), 0777);
      write_file(params + "/cur_profile", "0\n");
      const daemons d = start_both();
      expect_running(d);
      // Unreadable load counters count as the highest load.
      EXPECT_TRUE(file_becomes("/dev/cpuset/top-app/cpus", "0-7\n", 3000)) << read_file("/dev/cpuset/top-app/cpus");
      EXPECT_EQ(0, run_command(calmd_binary, {calmd_binary, "-s"}).status);
    });
  }
}

TEST(Faults, StorageAwayOrReadOnly) {
  sandbox::options o = device_options();
  o.data_mounted = false;
  in_sandbox(o, [] {
    const pid_t vmkd = start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out");
    // Defaults apply (profile 2: the full setting), and nothing is created.
    EXPECT_TRUE(file_becomes("/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq", "2016000\n", 5000));
    EXPECT_TRUE(file_becomes("/sys/module/process_reclaim/parameters/swap_pages", "16384\n", 5000));
    EXPECT_FALSE(exists("/data/media"));
    EXPECT_EQ(0, mount(nullptr, "/data", nullptr, MS_REMOUNT | MS_RDONLY, nullptr));
    const command_result r = run_command(calmd_binary, {calmd_binary});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("calmd: lock file is not open file descriptor!\n", r.out);
    EXPECT_EQ(0, waitpid(vmkd, nullptr, WNOHANG));
  });
}

TEST(Faults, ParameterFolderAndFilesBoobyTrapped) {
  in_sandbox([] {
    // The folder is a link elsewhere: nothing is written through it.
    mkdir("/tmp/elsewhere", 0755);
    ASSERT_EQ(0, symlink("/tmp/elsewhere", params.c_str()));
    daemons d = start_both();
    expect_running(d);
    EXPECT_FALSE(exists("/tmp/elsewhere/cur_profile"));
    EXPECT_EQ("2016000\n", read_file("/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq"));
  });
  in_sandbox([] {
    // Files that are FIFOs or links: no write through them, no hang.
    mkdir(params.c_str(), 0777);
    ASSERT_EQ(0, mkfifo((params + "/cur_profile").c_str(), 0666));
    ASSERT_EQ(0, mkfifo((params + "/enable_boost").c_str(), 0666));
    write_file("/tmp/victim", "precious\n");
    ASSERT_EQ(0, symlink("/tmp/victim", (params + "/ram.pr.swap_pages").c_str()));
    const daemons d = start_both();
    expect_running(d);
    EXPECT_EQ("precious\n", read_file("/tmp/victim"));
    // A file that cannot be opened reads as 0: profile 0 and no reclaim pages.
    EXPECT_TRUE(file_becomes("/sys/module/process_reclaim/parameters/swap_pages", "0\n", 3000));
    EXPECT_TRUE(wait_for([] { return setprop_log().find("reapply 0") != std::string::npos; }, 3000));
  });
}

TEST(Faults, DumpsysHangsOrPrintsGarbage) {
  in_sandbox([] {
    const pid_t app = spawn({"app", {"app"}});
    set_nice(app, 7);
    write_file("/system/bin/dumpsys", "#!/bin/sh\nsleep 1000\n");
    const long start = monotonic_ms();
    const command_result hung = run_command(calmd_binary, {calmd_binary, "-s"}, 60000);
    EXPECT_EQ(0, hung.status);
    EXPECT_LT(monotonic_ms() - start, 30000) << "the pipeline was not bounded";
    EXPECT_EQ(3, nice_of(app));

    write_file("/system/bin/dumpsys", "#!/bin/sh\nhead -c 3000 /dev/urandom\n");
    EXPECT_EQ(0, run_command(calmd_binary, {calmd_binary, "-c", "-1"}, 30000).status);
    EXPECT_EQ(0, run_command(calmd_binary, {calmd_binary, "-s"}, 30000).status);
  });
}

TEST(Faults, NoKernelLogDevice) {
  in_sandbox([] {
    unlink("/dev/kmsg");
    const daemons d = start_both();
    expect_running(d);
    EXPECT_EQ(0, run_command(calmd_binary, {calmd_binary, "-s"}).status);
  });
}

}  // namespace
