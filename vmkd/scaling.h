// The load bands and rules that turn one cycle's measurements into the CPU
// lists of the seven cpuset groups and the two clusters' frequency limits.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>

#include "scaling_reads.h"

inline constexpr int cpuset_group_count = 7;

// The groups in the write order of their CPU lists, and those lists' files.
inline constexpr std::array<const char*, cpuset_group_count> cpuset_group_names = {
    "top-app", "restricted", "audio-app", "foreground", "system-background", "camera-daemon", "background"};
inline constexpr std::array<const char*, cpuset_group_count> cpuset_files = {
    "/dev/cpuset/top-app/cpus",    "/dev/cpuset/restricted/cpus",        "/dev/cpuset/audio-app/cpus",
    "/dev/cpuset/foreground/cpus", "/dev/cpuset/system-background/cpus", "/dev/cpuset/camera-daemon/cpus",
    "/dev/cpuset/background/cpus",
};

// Whether file is "/dev/cpuset/<name>/cpus".
constexpr bool is_cpus_file_of(const char* file, const char* name) {
  for (const char* part : {"/dev/cpuset/", name, "/cpus"})
    for (; *part != '\0'; ++part, ++file)
      if (*file != *part) return false;
  return *file == '\0';
}
constexpr bool cpuset_files_match_names() {
  for (size_t i = 0; i < cpuset_group_count; ++i)
    if (!is_cpus_file_of(cpuset_files[i], cpuset_group_names[i])) return false;
  return true;
}
static_assert(cpuset_files_match_names(), "each CPU list file is its group's");

// The frequency limits of the two clusters, and the minimums every
// load-driven cycle writes.
inline constexpr const char* policy0_max_file = "/sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq";
inline constexpr const char* policy4_max_file = "/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq";
inline constexpr const char* policy0_min_file = "/sys/devices/system/cpu/cpufreq/policy0/scaling_min_freq";
inline constexpr const char* policy4_min_file = "/sys/devices/system/cpu/cpufreq/policy4/scaling_min_freq";
inline constexpr int policy0_min_khz = 614400;
inline constexpr int policy4_min_khz = 633600;

struct scaling_setting {
  std::array<const char*, cpuset_group_count> cpus;  // in the write order above
  int policy0_max;                                   // kHz
  int policy4_max;
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

// Whose value a file the loop writes holds, told from the value and the
// profile alone: what this table can have put there.
enum class value_owner {
  vmkd,            // a value the table writes there in this profile
  another_writer,  // a file vmkd writes in this profile, with a value it never writes there
  not_vmkds,       // a file vmkd does not write in this profile
};
enum class frequency_limit { policy0_max, policy4_max, policy0_min, policy4_min };
// cpus as the kernel prints the list of the group (write order above).
value_owner cpus_owner(int profile, int group, const char* cpus);
value_owner frequency_owner(int profile, frequency_limit limit, int khz);
