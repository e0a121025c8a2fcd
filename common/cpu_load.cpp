#include "cpu_load.h"

#include <climits>
#include <cstdio>

namespace {

quad busy_time(const cpu_counters& s) { return s.user + s.nice + s.system + s.iowait; }
quad total_time(const cpu_counters& s) { return s.user + s.nice + s.system + s.idle + s.iowait; }

// Converts like the binary128 soft-float conversion on Arm: truncation, with
// NaN and overflow saturating, so no undefined conversion is left to the compiler.
int truncate_saturating(quad value) {
  if (value != value) return INT_MAX;
  if (value >= static_cast<quad>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<quad>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int cpu_load_between(const cpu_counters& first, const cpu_counters& second) {
  const quad busy = busy_time(second) - busy_time(first);
  const quad total = total_time(second) - total_time(first);
  if (total == 0) return INT_MAX;
  const quad quotient = busy / total;
  const quad product = quotient * 100;
  return truncate_saturating(product);
}

bool cpu_counters_from_text(const char* text, cpu_counters* out) {
  long double v[5];
  if (sscanf(text, "%*s %Lf %Lf %Lf %Lf %Lf", &v[0], &v[1], &v[2], &v[3], &v[4]) != 5) return false;
  // Counters are whole numbers below 2^64, exact in either long double format.
  out->user = static_cast<quad>(v[0]);
  out->nice = static_cast<quad>(v[1]);
  out->system = static_cast<quad>(v[2]);
  out->idle = static_cast<quad>(v[3]);
  out->iowait = static_cast<quad>(v[4]);
  return true;
}
