#include "throttle_rules.h"

#include <sched.h>

#include <cstdint>

#include "scheduling.h"

int usage_figure(int dproc, int dtotal) {
  if (dtotal == 0) return 0;
  // 32-bit arithmetic as the counters are; computed wider so that a wrapped
  // product or INT_MIN / -1 cannot trap.
  const int product = static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(dproc) * 100));
  const int share = static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(product) / dtotal));
  const int usage = static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(share) * 10)) / 8;
  return usage < 0 ? 0 : usage > 100 ? 100 : usage;
}

throttle_decision decide_throttle(int nice, int usage) {
  int new_nice;
  if (usage <= 0)
    new_nice = nice / 2;
  else if (usage <= 2)
    new_nice = nice > 0 ? nice - 1 : nice < 0 ? nice + 1 : 0;
  else if (usage <= 19)
    new_nice = nice + 1;
  else if (usage <= 49)
    new_nice = nice + 2;
  else
    new_nice = nice + 3;

  const int line = policy_rule_line(nice, usage);
  const int policy = line == 1 ? SCHED_IDLE : line == 2 ? SCHED_BATCH : SCHED_OTHER;
  return {clamp_nice(new_nice), policy};
}

const char* decision_row(int usage) {
  if (usage <= 0) return "U 0: N / 2";
  if (usage <= 2) return "U 1 to 2: one step toward 0";
  if (usage <= 19) return "U 3 to 19: N + 1";
  if (usage <= 49) return "U 20 to 49: N + 2";
  return "U 50 to 100: N + 3";
}

int policy_rule_line(int nice, int usage) {
  if (usage < 3) return 0;
  if (usage == 100 || nice == 19) return 1;
  if (usage >= 80 || nice > 13) return 2;
  return 3;
}

const char* policy_rule_text(int line) {
  switch (line) {
    case 1: return "policy rule 1 (U = 100 or N = 19): IDLE";
    case 2: return "policy rule 2 (U >= 80 or N > 13): BATCH";
    case 3: return "policy rule 3: OTHER";
    default: return "U <= 2: OTHER";
  }
}

int parent_nice(int parent_nice_value, int usage) { return clamp_nice(parent_nice_value + (usage > 63 ? 3 : 1)); }

log_form choose_log(int usage, int nice, int new_nice, int old_policy, int new_policy) {
  if (new_policy == old_policy && new_nice == nice) return log_form::none;
  if (usage > 0) return log_form::with_usage;
  if (nice == 0 && new_nice == 0) return log_form::none;
  return log_form::without_usage;
}
