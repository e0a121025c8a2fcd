// Readers of the kernel's own texts that a trace's samples are taken from.
// Pure code over caller-owned buffers, no heap.
#pragma once

namespace trace {

// The counters of /proc/stat's aggregate cpu line that a trace keeps:
// user nice system idle iowait irq softirq steal.
inline constexpr int cpu_counter_count = 8;

// Reads the counters and the ctxt offset from a /proc/stat text; false
// without an aggregate "cpu" line.
bool parse_proc_stat(const char* text, unsigned long long (&cpu)[cpu_counter_count], unsigned long long* ctxt,
                     int* cpus, int* ctxt_at);

}  // namespace trace
