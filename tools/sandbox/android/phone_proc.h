// /proc texts as a phone prints them, from recorded counters: what the
// sandbox and the replay put in place of the real files.
#pragma once

#include <string>

#include "trace_format.h"

namespace sandbox {

// /proc/stat: the aggregate line and `cpus` cpuN lines (the aggregate shared
// out exactly), an intr line long enough that "ctxt" starts at ctxt_at (when
// that is past the lines before it), ctxt, a fixed btime, processes,
// procs_running and procs_blocked.
std::string phone_stat_text(const unsigned long long (&cpu)[trace::cpu_counter_count], unsigned long long ctxt,
                            int cpus, int ctxt_at, int running);
// /proc/loadavg from a system row: "0.52 0.58 0.59 2/1234 5678\n".
std::string phone_loadavg_text(const trace::system_row& r);

}  // namespace sandbox
