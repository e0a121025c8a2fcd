// The throttle pass's arithmetic: usage figure, decision table, parent step.
#pragma once

struct throttle_decision {
  int nice;    // clamped to -20..19
  int policy;  // SCHED_OTHER, SCHED_BATCH or SCHED_IDLE
};

// 100 * dproc / dtotal, scaled by 10/8, within 0..100; 0 when dtotal is 0.
int usage_figure(int dproc, int dtotal);
// New nice value and policy of a background process from its nice value and usage.
throttle_decision decide_throttle(int nice, int usage);
// The row of the decision table a usage figure falls in, as text ("U 20 to 49: N + 2").
const char* decision_row(int usage);
// The line of the policy rule that chose the policy: 1 (idle), 2 (batch),
// 3 (other); 0 below usage 3, where the policy is always SCHED_OTHER.
int policy_rule_line(int nice, int usage);
// The parent's new nice value: +3 above usage 63, else +1; clamped.
int parent_nice(int parent_nice_value, int usage);
inline constexpr int parent_step_usage = 48;

enum class special_name { none, ksmd, kbase_event, kworker, kworker_realtime };
// The names are kernel threads' names, which any process can give itself: a
// process with a program file is none of them, whatever its name.
special_name classify_name(const char* name, bool kernel_thread);

// What a kernel thread handled apart gets, in this order: nothing at all
// (leave_alone), or SCHED_RR priority 2 (round_robin), then the nice value.
// Its policy is left as it is otherwise. The throttle pass never examines
// kernel threads; "-r" gives ksmd its nice value from here.
struct special_treatment {
  bool leave_alone;
  bool round_robin;
  int nice;
};
special_treatment treatment_of(special_name name);

enum class log_form { none, with_usage, without_usage };
log_form choose_log(int usage, int nice, int new_nice, int old_policy, int new_policy);

// Differences of 32-bit counters, wrapping instead of overflowing.
inline int wrapping_sub(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b)); }
inline int wrapping_add(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)); }
