// A trace loaded for replay: the system samples, and each recorded process
// with its life and the CPU it burnt, as stretches of a share of one core.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "trace_format.h"

namespace replay {

struct system_sample {
  long long time_ms = 0;
  unsigned long long cpu[trace::cpu_counter_count] = {};
  unsigned long long ctxt = 0;
  trace::system_row row;  // the loadavg fields, GPU, touch and focus as recorded
};

struct burn {
  long long from_ms, to_ms;
  double share;  // of one core, as recorded (may exceed 1 for threaded processes)
};

struct recorded_process {
  int pid = 0, ppid = 0;
  std::string comm, cmdline;
  int nice = 0, policy = 0;  // when first seen
  long long start_ms = 0;
  long long end_ms = -1;  // -1: alive until the end of the trace
  std::vector<burn> burns;
  double cpu_seconds = 0;  // own user and system time seen in the trace
};

struct trace_model {
  trace::header header;
  std::vector<system_sample> samples;
  std::vector<recorded_process> processes;
  long long duration_ms = 0;
};

// What a replay takes on, whoever wrote the trace: it runs in real time, one
// stand-in process per recorded process.
inline constexpr long long max_trace_ms = 3600LL * 1000;
inline constexpr size_t max_trace_processes = 4096;  // the stand-ins' slots
inline constexpr size_t max_trace_samples = 720000;  // one every 5 ms for an hour
inline constexpr long long max_row_gap_ms = 120LL * 1000;
inline constexpr long long max_trace_bytes = 256ll << 20;

// Reads and checks the whole file, the format and the limits above; on a
// fault, error is "FILE: line N: what".
bool load_trace(const std::string& path, trace_model* out, std::string* error);
// The same for a trace's text; name stands for the file in the error.
bool load_trace_text(const std::string& text, const std::string& name, trace_model* out, std::string* error);

// The counters at a time between two samples, linearly interpolated (whole
// ticks, never going backwards); the sample's own before the first and after the last.
void counters_at(const trace_model& m, double time_ms, unsigned long long (&cpu)[trace::cpu_counter_count],
                 unsigned long long* ctxt);
// The last sample at or before the time (the first before it starts).
const system_sample& sample_at(const trace_model& m, long long time_ms);
// A process's recorded share of one core at a time.
double share_at(const recorded_process& p, long long time_ms);

}  // namespace replay
