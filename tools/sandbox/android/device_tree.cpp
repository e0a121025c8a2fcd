// The fake device: the kernel files both daemons touch, with the values a
// two-cluster Snapdragon 845 phone has at boot, so a run can show what was
// written. Paths the product names as constants are taken from it; a device
// test checks that every kernel file the daemons name is here.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "boost_modes.h"
#include "sandbox.h"
#include "scaling.h"
#include "tree_building.h"

namespace sandbox {

namespace {

std::vector<fake_file> boot_files() {
  std::vector<fake_file> files = {
      {"/sys/module/process_reclaim/parameters/swap_pages", "1024\n"},
      {"/sys/module/process_reclaim/parameters/min_pressure", "50\n"},
      {"/sys/module/process_reclaim/parameters/score_adj_thr", "529\n"},
      {"/sys/module/process_reclaim/parameters/reclaimable_adj_decr", "100\n"},
      {"/sys/module/process_reclaim/parameters/swap_eff_thr", "30\n"},
      {"/sys/module/process_reclaim/parameters/swap_eff_win", "4\n"},
      {"/sys/module/lowmemorykiller/parameters/oom_reaper", "1\n"},
      {"/sys/module/lowmemorykiller/parameters/enable_adaptive_lmk", "1\n"},
      {"/sys/module/cpu_input_boost/parameters/enable_cfs_tune", "1\n"},
      {"/sys/module/fair/parameters/def_wak_granularity", "1000000\n"},
      {"/sys/module/fair/parameters/bst_wak_granularity", "1000000\n"},
      {"/sys/module/fair/parameters/min_gran_max_div", "8\n"},
      {touch_file, "0\n"},
      {policy0_max_file, "1766400\n"},
      {policy0_min_file, "300000\n"},
      {policy4_max_file, "2803200\n"},
      {policy4_min_file, "825600\n"},
      {gpu_busy_file, "10 %\n"},
      {"/sys/kernel/debug/sched_features", "GENTLE_FAIR_SLEEPERS START_DEBIT NEXT_BUDDY RT_RUNTIME_SHARE\n"},
      {"/sys/devices/virtual/block/zram0/compact", ""},
      {cpuset_files[0], "0-7\n"},
      {cpuset_files[1], "0-3\n"},
      {cpuset_files[2], "0-7\n"},
      {cpuset_files[3], "0-3,6-7\n"},
      {cpuset_files[4], "0-3\n"},
      {cpuset_files[5], "0-7\n"},
      {cpuset_files[6], "0-1\n"},
      {"/dev/stune/foreground/schedtune.colocate", "0\n"},
      {"/proc/sys/vm/extfrag_threshold", "500\n"},
      {"/sys/block/sda/queue/iosched/request_priority", "0\n"},
      {"/sys/block/sda/queue/iosched/low_latency", "0\n"},
      {"/sys/block/sda/queue/iosched/wr_coeff", "30\n"},
      {"/sys/block/sda/queue/iosched/wr_min_idle_time", "0\n"},
      {"/sys/block/sda/queue/iosched/wr_max_time", "0\n"},
      {"/sys/block/mmcblk0/queue/iosched/request_priority", "0\n"},
      {"/sys/block/mmcblk0/queue/iosched/low_latency", "0\n"},
      {"/sys/block/mmcblk0/queue/iosched/wr_coeff", "30\n"},
      {"/sys/block/mmcblk0/queue/iosched/wr_min_idle_time", "0\n"},
      {"/sys/block/mmcblk0/queue/iosched/wr_max_time", "0\n"},
      {"/sys/block/loop0/queue/scheduler", "none\n"},
      // As on a real kernel, /sys/block/zram0 is a link to this folder (made with the tree).
      {"/sys/devices/virtual/block/zram0/queue/scheduler", "none\n"},
  };
  for (const char* boost : boost_files) files.push_back({boost, "7\n"});
  return files;
}

}  // namespace

const std::vector<fake_file>& device_files() {
  static const std::vector<fake_file> files = boot_files();
  return files;
}

bool build_devices(const std::string& root, const options& o) {
  for (const char* top : {"/sys", "/dev", "/data"}) {
    const std::string p = root + top;
    if (!make_dirs(p) || mount("tmpfs", p.c_str(), "tmpfs", MS_NOSUID, "mode=0755,size=16m") != 0)
      return fail("mount tmpfs", p);
  }
  for (const fake_file& f : device_files()) {
    if (strncmp(f.path, "/proc/", 6) == 0) continue;
    if (!make_file(root + f.path, f.text)) return false;
  }
  if (symlink("../devices/virtual/block/zram0", (root + "/sys/block/zram0").c_str()) != 0)
    return fail("symlink", "/sys/block/zram0");
  // Host device nodes that shells and libraries expect; writes to them go
  // nowhere. The host's random pools are not shown: a write there would feed
  // them, so random and urandom are files of random bytes.
  for (const char* node : {"null", "zero", "full"}) {
    const std::string host = std::string("/dev/") + node;
    if (!make_file(root + host, "") || !bind_file(host, root + host)) return false;
  }
  const std::string random_bytes = read_some("/dev/urandom", 65536);
  if (!make_file(root + "/dev/random", random_bytes, 0444) || !make_file(root + "/dev/urandom", random_bytes, 0444))
    return false;
  if (mkfifo((root + "/dev/kmsg").c_str(), 0620) != 0) return fail("mkfifo", "/dev/kmsg");
  symlink("/proc/self/fd", (root + "/dev/fd").c_str());
  symlink("/proc/self/fd/0", (root + "/dev/stdin").c_str());
  symlink("/proc/self/fd/1", (root + "/dev/stdout").c_str());
  symlink("/proc/self/fd/2", (root + "/dev/stderr").c_str());
  if (!make_dirs(root + "/dev/shm")) return false;
  chmod((root + "/dev/shm").c_str(), 01777);

  // The shared storage as it is after the first unlock: vold has made Android/ in it.
  if (o.data_mounted && !make_dirs(root + "/data/media/0/Android", 0771)) return false;
  // "mkdir /dev/cpuset/foreground_window" and its cpus copied from the root
  // group's (AOSP, system/core/rootdir/init.rc, from Android 15).
  if (o.foreground_window && !make_file(root + "/dev/cpuset/foreground_window/cpus", "0-7\n")) return false;

  return make_android_tools(root, "/bin/bash") && make_file(root + control_dir + "/kmsg.log", "");
}

}  // namespace sandbox
