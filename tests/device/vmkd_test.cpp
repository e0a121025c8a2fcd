// vmkd in the sandbox: what it refuses, the processes it leaves, and what it writes.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "device_support.h"

namespace {

using namespace sandbox;

const std::string params = "/data/media/0/vmk_params/";
const std::string boost = "/sys/module/cpu_input_boost/parameters/";
const std::string cpufreq = "/sys/devices/system/cpu/cpufreq/";

pid_t start_vmkd() {
  const pid_t pid = start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out");
  // The first tuning cycle ends with zram compaction and "enable_boost".
  EXPECT_TRUE(wait_for(
      [] {
        const std::string flag = value_of(params + "enable_boost");
        return value_of("/sys/devices/virtual/block/zram0/compact") == "1\n" && (flag == "0\n" || flag == "1\n");
      },
      15000))
      << "no first tuning cycle";
  return pid;
}

void put_param(const std::string& key, const std::string& text) {
  mkdir("/data/media/0/vmk_params", 0777);
  write_file(params + key, text);
}

// Feeds /proc/stat with counters that advance with the given busy share.
pid_t start_stat_ticker(int busy_percent) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = open("/proc/stat", O_WRONLY);
    unsigned long busy = 1000000, idle = 1000000;
    for (;;) {
      busy += static_cast<unsigned long>(busy_percent);
      idle += static_cast<unsigned long>(100 - busy_percent);
      char text[128];
      // Same length every time, so a reader never sees a shorter file.
      const int n = snprintf(text, sizeof text, "cpu  %012lu 0 0 %012lu 0 0 0 0 0 0\nctxt 1000\n", busy, idle);
      if (pwrite(fd, text, static_cast<size_t>(n), 0) != n) _exit(1);
      usleep(5000);
    }
  }
  return pid;
}

TEST(Vmkd, RefusesAForeignKernelBeforeCheckingRoot) {
  sandbox::options o = device_options();
  o.velmora_kernel = false;
  in_sandbox(o, [] {
    for (uid_t uid : {0u, 65534u}) {
      const command_result r = run_command(vmkd_binary, {"vmkd"}, 5000, uid);
      EXPECT_EQ(1, r.status);
      EXPECT_EQ("This program will not run on kernel other than Velmora Kernel!", r.err);
      EXPECT_EQ("", r.out);
    }
    // The marker counts only within the first 128 bytes.
    write_file("/proc/version", "Linux version " + std::string(120, 'x') + " VmK\n");
    EXPECT_EQ(1, run_command(vmkd_binary, {"vmkd"}).status);
    EXPECT_FALSE(exists("/data/media/0/vmk_params"));
  });
}

TEST(Vmkd, RefusesWithoutRoot) {
  in_sandbox([] {
    const command_result r = run_command(vmkd_binary, {"vmkd"}, 5000, 65534);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Can not work without superuser access!\n", r.err);
  });
}

TEST(Vmkd, FirstCycleWithNoParameterFiles) {
  in_sandbox([] {
    const pid_t main_pid = start_vmkd();
    // main, sscaling and the nice applier; the fair parameter writer is gone without a zombie.
    EXPECT_TRUE(wait_for([] { return pids_of_program(vmkd_binary).size() == 3; }, 5000));
    for (pid_t pid : pids_of_program(vmkd_binary)) {
      EXPECT_EQ(-4, nice_of(pid));
      EXPECT_TRUE(pid == main_pid || parent_of(pid) == main_pid);
    }
    for (pid_t pid : all_pids()) EXPECT_NE('Z', state_of(pid)) << comm_of(pid);

    const std::map<std::string, std::string> defaults = {
        {"cur_profile", "2\n"},         {"ram.pr.swap_pages", "16384\n"}, {"ram.pr.threshold", "67\n"},
        {"ram.pr.task_min_adj", "0\n"}, {"ram.pr.efficiency", "85\n"},    {"sched.dstune.mode", "2\n"},
        {"enable_boost", "0\n"}};
    EXPECT_EQ(0777u, file_mode("/data/media/0/vmk_params"));
    for (const auto& [key, text] : defaults) {
      EXPECT_EQ(text, value_of(params + key)) << key;
      EXPECT_EQ(0777u, file_mode(params + key)) << key;
    }

    const std::map<std::string, std::string> written = {
        {"/sys/module/process_reclaim/parameters/swap_pages", "16384\n"},
        {"/sys/module/process_reclaim/parameters/min_pressure", "67\n"},
        {"/sys/module/process_reclaim/parameters/score_adj_thr", "0\n"},
        {"/sys/module/process_reclaim/parameters/reclaimable_adj_decr", "20\n"},
        {"/sys/module/process_reclaim/parameters/swap_eff_thr", "85\n"},
        {"/sys/module/process_reclaim/parameters/swap_eff_win", "1\n"},
        {"/sys/module/lowmemorykiller/parameters/oom_reaper", "0\n"},
        {"/sys/module/lowmemorykiller/parameters/enable_adaptive_lmk", "0\n"},
        {"/dev/stune/foreground/schedtune.colocate", "1\n"},
        {boost + "default_stune_boost", "24\n"},
        {boost + "default_stune_boost_bg", "-62\n"},
        {boost + "dynamic_stune_boost_rt", "33\n"},
        {boost + "enable_cfs_tune", "0\n"},
        {"/sys/module/fair/parameters/bst_wak_granularity", "15000000\n"},
        {"/sys/module/fair/parameters/min_gran_max_div", "24\n"},
        {"/sys/kernel/debug/sched_features", "NO_NEXT_BUDDY\n"},
        {"/proc/sys/vm/extfrag_threshold", "965\n"},
        {"/sys/devices/virtual/block/zram0/compact", "1\n"},
        {"/sys/block/sda/queue/iosched/request_priority", "20\n"},
        {"/sys/block/mmcblk0/queue/iosched/low_latency", "1\n"},
        {"/sys/block/mmcblk0/queue/iosched/wr_coeff", "1000\n"},
        {"/sys/block/sda/queue/iosched/wr_min_idle_time", "2000\n"},
        {"/sys/block/sda/queue/iosched/wr_max_time", "6000\n"},
        // Profile 2: the fixed full setting, written once.
        {"/dev/cpuset/top-app/cpus", "0-7\n"},
        {"/dev/cpuset/foreground/cpus", "2,4-7\n"},
        {"/dev/cpuset/system-background/cpus", "0-4\n"},
        {"/dev/cpuset/camera-daemon/cpus", "0-3\n"},
        {"/dev/cpuset/background/cpus", "0\n"},
        {cpufreq + "policy0/scaling_max_freq", "2016000\n"},
        {cpufreq + "policy4/scaling_max_freq", "2016000\n"},
        {cpufreq + "policy0/scaling_min_freq", "300000\n"},
    };
    for (const auto& [path, text] : written)
      EXPECT_TRUE(file_becomes(path, text, 3000)) << path << ": " << value_of(path);
    // The two writes of this value race at start-up; either may land last.
    const std::string wake = value_of("/sys/module/fair/parameters/def_wak_granularity");
    EXPECT_TRUE(wake == "5000000\n" || wake == "2000000\n") << wake;
    EXPECT_EQ(0444u, file_mode(cpufreq + "policy4/scaling_max_freq"));
    EXPECT_FALSE(exists("/sys/block/loop0/queue/iosched"));

    usleep(1000000);
    EXPECT_EQ("persist.vmk.profile.reapply 1\n", setprop_log());
    EXPECT_EQ("", kernel_log());
  });
}

TEST(Vmkd, ParameterTextsAsTheTuningLoopReadsThem) {
  in_sandbox([] {
    put_param("ram.pr.swap_pages", "0x10\n");
    put_param("ram.pr.threshold", "010\n");
    put_param("ram.pr.task_min_adj", " 42\n");
    put_param("ram.pr.efficiency", "word\n");
    put_param("cur_profile", "");
    put_param("enable_boost", "-5\n");
    start_vmkd();
    const std::string reclaim = "/sys/module/process_reclaim/parameters/";
    EXPECT_EQ("16\n", value_of(reclaim + "swap_pages"));
    EXPECT_EQ("8\n", value_of(reclaim + "min_pressure"));
    EXPECT_EQ("42\n", value_of(reclaim + "score_adj_thr"));
    EXPECT_EQ("0\n", value_of(reclaim + "swap_eff_thr"));
    // Malformed files are read as 0 and left as they are; an empty profile is 0.
    EXPECT_EQ("word\n", value_of(params + "ram.pr.efficiency"));
    EXPECT_EQ("", value_of(params + "cur_profile"));
    EXPECT_EQ("0\n", value_of(params + "enable_boost"));
    EXPECT_TRUE(wait_for([] { return setprop_log().find("persist.vmk.profile.reapply 0\n") == 0; }, 3000));
  });
}

TEST(Vmkd, BoostModes) {
  struct {
    const char* mode;
    const char* file_after;
    const char* default_boost;
    const char* dynamic_rt;
  } const cases[] = {
      {"99\n", "99\n", "7\n", "7\n"},  // nothing written
      {"0\n", "0\n", "0\n", "0\n"},    {"4\n", "4\n", "36\n", "48\n"},
      {"7\n", "2\n", "24\n", "33\n"},  // out of range: deleted, recreated, mode 2 applied
      {"-1\n", "2\n", "24\n", "33\n"}, {"3\n", "3\n", "30\n", "36\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    in_sandbox([&] {
      put_param("sched.dstune.mode", c.mode);
      put_param("cur_profile", "3\n");
      start_vmkd();
      EXPECT_EQ(c.file_after, value_of(params + "sched.dstune.mode"));
      EXPECT_EQ(c.default_boost, value_of(boost + "default_stune_boost"));
      EXPECT_EQ(c.dynamic_rt, value_of(boost + "dynamic_stune_boost_rt"));
      EXPECT_EQ("1\n", value_of("/dev/stune/foreground/schedtune.colocate"));
      EXPECT_EQ("1\n", value_of(params + "enable_boost"));
    });
  }
}

TEST(Vmkd, LoadDrivenScalingFollowsTheBands) {
  sandbox::options o = device_options();
  o.fake_stat = true;
  o.fake_loadavg = true;
  in_sandbox(o, [] {
    const std::string touch = "/sys/module/gt1x/parameters/touch_pressed";
    struct {
      const char* what;
      int load;
      const char* loadavg;
      const char* touch;
      const char* top_app;
      const char* camera;
      const char* policy0_max;
      const char* policy4_max;
    } const cases[] = {
        {"band 1", 10, "0.50 0.40 0.30 1/100 300\n", "0\n", "0-2\n", "0-1\n", "614400\n", "633600\n"},
        {"band 4", 50, "0.50 0.40 0.30 1/100 300\n", "0\n", "0-5\n", "0-2\n", "1036800\n", "1401600\n"},
        {"band 8", 95, "0.50 0.40 0.30 1/100 300\n", "0\n", "0-7\n", "0-3\n", "1670400\n", "1804800\n"},
        {"touch: busy", 10, "0.50 0.40 0.30 1/100 300\n", "1\n", "0-7\n", "0-3\n", "1670400\n", "1804800\n"},
        {"L 8.0: raise", 50, "8.00 0.40 0.30 1/100 300\n", "0\n", "0-5\n", "0-2\n", "1036800\n", "1555200\n"},
        {"r 5: activity", 65, "0.50 0.40 0.30 5/100 300\n", "0\n", "0-4\n", "0-1\n", "883200\n", "1401600\n"},
        {"L 9.0 in band 5", 65, "9.00 0.40 0.30 1/100 300\n", "0\n", "0-5\n", "0-3\n", "1036800\n", "1555200\n"},
    };
    put_param("cur_profile", "0\n");
    set_proc_loadavg(cases[0].loadavg);
    pid_t ticker = start_stat_ticker(cases[0].load);
    start_vmkd();
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      stop(ticker);
      ticker = start_stat_ticker(c.load);
      set_proc_loadavg(c.loadavg);
      write_file(touch, c.touch);
      usleep(400000);  // two cycles with the new inputs
      // All four from one cycle: on a busy machine the ticker can miss a
      // cycle's window, and that cycle, seeing no load, rewrites the lists.
      const auto values = [] {
        return value_of("/dev/cpuset/top-app/cpus") + value_of("/dev/cpuset/camera-daemon/cpus") +
               value_of(cpufreq + "policy0/scaling_max_freq") + value_of(cpufreq + "policy4/scaling_max_freq");
      };
      const std::string expected = std::string(c.top_app) + c.camera + c.policy0_max + c.policy4_max;
      EXPECT_TRUE(wait_for([&] { return values() == expected; }, 3000)) << values();
      EXPECT_EQ("614400\n", value_of(cpufreq + "policy0/scaling_min_freq"));
      EXPECT_EQ("633600\n", value_of(cpufreq + "policy4/scaling_min_freq"));
      EXPECT_EQ(0444u, file_mode(cpufreq + "policy0/scaling_min_freq"));
    }
    EXPECT_EQ(std::string::npos, setprop_log().find("reapply 1"));

    // Profile 0 -> 2: the full setting and one "1"; 2 -> 3 writes nothing more.
    write_file(touch, "0\n");
    put_param("cur_profile", "2\n");
    EXPECT_TRUE(wait_for([] { return count_of(setprop_log(), "reapply 1") == 1; }, 3000));
    EXPECT_EQ("0-7\n", value_of("/dev/cpuset/top-app/cpus"));
    EXPECT_EQ("2016000\n", value_of(cpufreq + "policy4/scaling_max_freq"));
    put_param("cur_profile", "3\n");
    usleep(600000);
    EXPECT_EQ(1, count_of(setprop_log(), "reapply 1"));
  });
}

TEST(Vmkd, NiceApplierTreatsTheWellKnownProcesses) {
  in_sandbox([] {
    struct {
      spawn_spec process;
      int nice;
      int policy;
    } const cases[] = {
        {{"dex2oat", {"/system/bin/dex2oat", "--zip-fd=6"}}, 0, 5},
        {{"ndroid.apps.photos", {"com.google.android.apps.photos"}}, 19, 0},
        {{"logd", {"/system/bin/logd"}}, 19, 0},
        {{"watchlogdog", {"/vendor/bin/watchdog"}}, 19, 0},
        {{"tracker", {"collector", "analytics", "logd"}}, 0, 5},
        {{"Fp-hal", {"/vendor/bin/hw/Fingerprint@2.1-service"}}, 0, 0},
        {{"fp-hal", {"/vendor/bin/hw/android.hardware.biometrics.fingerprint@2.1-service"}}, -3, 0},
        {{"minusscreen", {"com.mi.android.globalminusscreen"}}, 4, 0},
        {{"lmkd", {"/system/bin/lmkd"}}, 1, 0},
        {{"surfaceflinger", {"/system/bin/surfaceflinger"}}, 0, 0},
    };
    std::vector<pid_t> pids;
    for (const auto& c : cases) pids.push_back(spawn(c.process));
    start_vmkd();
    EXPECT_TRUE(wait_for([&] { return policy_of(pids[0]) == 5; }, 8000));
    for (size_t i = 0; i < pids.size(); ++i) {
      EXPECT_EQ(cases[i].nice, nice_of(pids[i])) << cases[i].process.comm;
      EXPECT_EQ(cases[i].policy, policy_of(pids[i])) << cases[i].process.comm;
    }
    EXPECT_EQ(0, nice_of(1));
  });
}

TEST(Vmkd, NiceApplierMovesTheThreadsInStep) {
  in_sandbox([] {
    const pid_t logd = spawn(app_like("/system/bin/logd", 0, SCHED_OTHER, false));
    const pid_t dex2oat = spawn(app_like("/system/bin/dex2oat", 0, SCHED_OTHER, false));
    start_vmkd();
    EXPECT_TRUE(wait_for([&] { return thread_named(dex2oat, "work").policy == SCHED_IDLE; }, 8000));
    EXPECT_TRUE(wait_for([&] { return thread_named(logd, "work").nice == 19; }, 8000));
    expect_in_step(logd, 19, SCHED_OTHER, "logd");
    expect_in_step(dex2oat, 0, SCHED_IDLE, "dex2oat");
  });
}

TEST(Vmkd, ReportsAMissingChildEveryOtherCycleLong) {
  in_sandbox([] {
    const pid_t main_pid = start_vmkd();
    EXPECT_TRUE(wait_for([] { return pids_of_program(vmkd_binary).size() == 3; }, 5000));
    pid_t sscaling = 0;
    for (pid_t pid : pids_of_program(vmkd_binary))
      if (pid != main_pid && (sscaling == 0 || pid < sscaling)) sscaling = pid;
    kill(sscaling, SIGKILL);
    // Its pid, freed at once, taken by another process (again if a shell it
    // left behind took it first).
    EXPECT_TRUE(wait_for(
        [&] {
          const pid_t impostor = spawn_at(sscaling, {"impostor"});
          if (impostor == sscaling) return true;
          stop(impostor);
          return false;
        },
        5000));
    const std::string message = "vmkd: sscaling process is not running...";
    EXPECT_TRUE(wait_for([&] { return count_of(kernel_log(), message) == 1; }, 25000)) << kernel_log();
    EXPECT_TRUE(wait_for([&] { return count_of(kernel_log(), message) == 2; }, 25000)) << kernel_log();
    EXPECT_EQ(std::string::npos, kernel_log().find("nice applier"));
    EXPECT_EQ(2u, pids_of_program(vmkd_binary).size());
  });
}

}  // namespace
