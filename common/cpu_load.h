// Busy share of all CPUs over a short window, from the aggregate "cpu" line of /proc/stat.
#pragma once

// IEEE binary128: long double on 64-bit Arm; x86-64's long double is the 80-bit format.
#if defined(__aarch64__)
using quad = long double;
#else
__extension__ typedef __float128 quad;
#endif

struct cpu_counters {
  quad user = 0, nice = 0, system = 0, idle = 0, iowait = 0;
};

// Pure: the busy share between two samples in whole percent, truncated.
// A zero total delta gives 2147483647 (read by the caller as the highest load).
int cpu_load_between(const cpu_counters& first, const cpu_counters& second);

// One sample from a /proc/stat text; false when it does not begin with five numbers.
bool cpu_counters_from_text(const char* text, cpu_counters* out);
