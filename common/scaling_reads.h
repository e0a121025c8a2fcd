// What vmkd's scaling cycle reads, and where, kept apart from how the texts
// become the inputs of its decision: a tool that sees the same texts (the
// replay, the status command) reads them the same way.
#pragma once

#include "value_file.h"

// The inputs besides /proc/stat and /proc/loadavg.
inline constexpr const char* gpu_busy_file =
    "/sys/devices/platform/soc/1c00000.qcom,kgsl-3d0/kgsl/kgsl-3d0/gpu_busy_percentage";
inline constexpr const char* touch_file = "/sys/module/gt1x/parameters/touch_pressed";

struct scaling_inputs {
  int cpu_load;      // c, percent
  int gpu_busy;      // g, percent
  int runnable;      // r
  int iowait_delta;  // w, ticks since the previous cycle
  int touch;         // t
  float load_avg;    // L, one minute
};

// One cycle's reads, in the order it makes them.
struct scaling_texts {
  value_text stat_before, stat_after;  // the CPU load sample, 100 ms apart
  value_text gpu, loadavg_for_runnable, stat_for_iowait, touch, loadavg_for_load;
};

// What one cycle leaves to the next: an unreadable file keeps the last value.
struct scaling_memory {
  int runnable = 0;
  int iowait = 0;  // the counter, for the next delta; 0 at start
  float load_avg = 0;
};

// The cycle's reads in their order, each with the text it fills; the 100 ms
// of the load sample lie between the first two.
struct scaling_read {
  const char* path;
  value_text scaling_texts::*text;
};
inline constexpr scaling_read scaling_read_order[] = {
    {"/proc/stat", &scaling_texts::stat_before},
    {"/proc/stat", &scaling_texts::stat_after},
    {gpu_busy_file, &scaling_texts::gpu},
    {"/proc/loadavg", &scaling_texts::loadavg_for_runnable},
    {"/proc/stat", &scaling_texts::stat_for_iowait},
    {touch_file, &scaling_texts::touch},
    {"/proc/loadavg", &scaling_texts::loadavg_for_load},
};

// The reads, in that order; blocks for the 100 ms of the load sample. A
// caller that holds an earlier first read (in out->stat_before) may have the
// rest read at once: the load is then over the time since.
void read_scaling_texts(scaling_texts* out, bool first_read_given = false);
// Pure: the inputs the texts give, with the cycle's own formats.
scaling_inputs scaling_inputs_from(const scaling_texts& t, scaling_memory* memory);
