// The load bands and rules that turn one cycle's measurements into the CPU
// lists of the seven cpuset groups and the two clusters' frequency limits.
#pragma once

#include <array>
#include <cstddef>

inline constexpr int cpuset_group_count = 7;

// Write order of the CPU lists.
inline constexpr std::array<const char*, cpuset_group_count> cpuset_files = {
    "/dev/cpuset/top-app/cpus",    "/dev/cpuset/restricted/cpus",        "/dev/cpuset/audio-app/cpus",
    "/dev/cpuset/foreground/cpus", "/dev/cpuset/system-background/cpus", "/dev/cpuset/camera-daemon/cpus",
    "/dev/cpuset/background/cpus",
};

// Inputs besides the CPU load sample and /proc/loadavg.
inline constexpr const char* gpu_busy_file =
    "/sys/devices/platform/soc/1c00000.qcom,kgsl-3d0/kgsl/kgsl-3d0/gpu_busy_percentage";
inline constexpr const char* touch_file = "/sys/module/gt1x/parameters/touch_pressed";

struct scaling_setting {
  std::array<const char*, cpuset_group_count> cpus;  // in the write order above
  int policy0_max;                                   // kHz
  int policy4_max;
};

struct scaling_inputs {
  int cpu_load;      // c, percent
  int gpu_busy;      // g, percent
  int runnable;      // r
  int iowait_delta;  // w, ticks since the previous cycle
  int touch;         // t
  float load_avg;    // L, one minute
};

enum class scaling_rule { band, busy, raise, activity };

// The test that decides a cycle's rule, in the order the rules try them;
// none when the band's own setting stays.
enum class scaling_test {
  none,
  touch,
  runnable_busy,
  load_busy,
  iowait_busy,
  gpu_busy,
  loadavg_busy,
  loadavg_raise,
  iowait_activity,
  runnable_activity,
  gpu_activity,
  loadavg_activity,
};

struct scaling_choice {
  scaling_setting setting;
  int band;  // 1 to 8, from the CPU load alone
  scaling_rule rule;
};

inline constexpr scaling_setting full_setting = {{"0-7", "0-7", "0-7", "2,4-7", "0-4", "0-3", "0"}, 2016000, 2016000};

// Band 1 to 8 for a CPU load (bounds inclusive: 17, 32, 44, 60, 69, 78, 86).
int load_band(int cpu_load);
const scaling_setting& band_setting(int band);
scaling_choice choose_scaling(const scaling_inputs& in);
const char* rule_name(scaling_rule rule);
scaling_test deciding_test(const scaling_inputs& in);
scaling_rule rule_of(scaling_test test);
// Why a cycle's setting is what it is, as "busy: w = 5 > 2" or
// "band 4: c = 50 in 45..60". Returns the length snprintf gives.
int describe_decision(const scaling_inputs& in, char* out, size_t size);
