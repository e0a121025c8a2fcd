// The record log between the sandboxed feeder and the explanation: one
// record per line, tab-separated, times in microseconds since the replay
// began (trace time 0).
//   R  time pid file fields...  a read of a fed file (file: stat, loadavg, gpu,
//                               touch) and what it held: for stat the eight
//                               counters, ctxt and procs_running; else the text
//   W  time pid path text       a write to a cpuset or cpufreq file, closed
//   K  time line                a kernel-log line
//   S  time index pid recorded  a stand-in started (index into the trace's processes)
//   X  time index               a stand-in ended
//   N  time index nice policy   a stand-in's scheduling seen changed
//   F  time package             the focused app the fake dumpsys now names
//   B  time demand granted      stand-ins' recorded and granted share, permille of one core
//   D  role pid                 a daemon process (vmkd, calmd)
//   C  pid role ticks hwm_kib   a daemon process's CPU time and peak memory at the end
//   A  index ticks              a stand-in's own CPU time at its end
//   T  time                     the end of the replay
//   !  time text                a fault the feeder met
// Texts are escaped as in the trace.
#pragma once

#include "scaling_reads.h"

// The fed files, by the names the R records give them.
struct fed_file_name {
  const char* name;
  const char* path;
};
inline constexpr fed_file_name fed_file_names[] = {
    {"stat", "/proc/stat"}, {"loadavg", "/proc/loadavg"}, {"gpu", gpu_busy_file}, {"touch", touch_file}};
