// The parameters a user or an app sets: the names of their files, the
// defaults vmkd creates them with, and what the module's face (its status,
// WebUI and Action button) lets a user choose, with what each one means.
// vmkd itself reads any number there (a word reads as 0).
#pragma once

#include <cstring>

enum user_param_id {
  cur_profile,
  ram_pr_swap_pages,
  ram_pr_threshold,
  ram_pr_task_min_adj,
  ram_pr_efficiency,
  sched_dstune_mode,
  user_param_count
};

inline constexpr int no_other_value = -2147483647 - 1;

struct user_param {
  const char* key;
  int default_value;
  int low, high;  // what the face lets a user set
  int also;       // one more value it allows, or no_other_value
  const char* meaning;
};

inline constexpr user_param user_params[user_param_count] = {
    {"cur_profile", 2, 0, 3, no_other_value,
     "0: CPU cores and frequency limits follow the load; 1 or 2: all cores, a fixed 2016 MHz limit; 3: the same "
     "and scheduler boost on"},
    {"ram.pr.swap_pages", 16384, 0, 1048576, no_other_value, "pages the process-reclaim driver may swap out per run"},
    {"ram.pr.threshold", 67, 0, 100, no_other_value, "memory pressure (percent) at which process reclaim starts"},
    {"ram.pr.task_min_adj", 0, -1000, 1000, no_other_value, "lowest OOM score of the apps that reclaim may touch"},
    {"ram.pr.efficiency", 85, 0, 100, no_other_value, "swap efficiency (percent) below which reclaim backs off"},
    {"sched.dstune.mode", 2, 0, 4, 99, "scheduler boost: 0 off, 1 and 2 normal, 3 more, 4 most, 99 the kernel's own"},
};

// Written by vmkd, never read: 1 while cur_profile is 3.
inline constexpr const char* enable_boost_key = "enable_boost";

// A user param by its file name; nullptr for any other name.
inline const user_param* find_user_param(const char* key) {
  for (const user_param& p : user_params)
    if (strcmp(p.key, key) == 0) return &p;
  return nullptr;
}

// What a cur_profile value makes vmkd do (1 acts as 2).
inline const char* profile_name(int profile) {
  return profile == 0 ? "load-driven" : profile == 3 ? "fixed full speed and boost" : "fixed full speed";
}

inline bool allowed_value(const user_param& p, int value) {
  return (value >= p.low && value <= p.high) || (p.also != no_other_value && value == p.also);
}
