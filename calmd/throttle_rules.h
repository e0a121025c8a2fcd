// The throttle pass's arithmetic: usage figure, decision table, parent step.
#pragma once

#include <sched.h>

struct throttle_decision {
  int nice;    // clamped to -20..19
  int policy;  // SCHED_OTHER, SCHED_BATCH or SCHED_IDLE
};

// What a process of the foreground app gets at every pass, whatever its usage.
inline constexpr throttle_decision foreground_treatment = {-4, SCHED_OTHER};

// 100 * dproc / dtotal, scaled by 10/8, within 0..100; 0 when dtotal is 0.
int usage_figure(int dproc, int dtotal);
// New nice value and policy of a background process from its nice value and usage.
throttle_decision decide_throttle(int nice, int usage);
// The row of the decision table a usage figure falls in, as text ("U 20 to 49: N + 2").
const char* decision_row(int usage);
// The line of the policy rule that chose the policy: 1 (idle), 2 (batch),
// 3 (other); 0 below usage 3, where the policy is always SCHED_OTHER.
int policy_rule_line(int nice, int usage);
// That line as text: "policy rule 2 (U >= 80 or N > 13): BATCH", "U <= 2: OTHER".
const char* policy_rule_text(int line);
// The parent's new nice value: +3 above usage 63, else +1; clamped.
int parent_nice(int parent_nice_value, int usage);
inline constexpr int parent_step_usage = 48;

// The kernel's same-page merging thread gets nice 4 from "-r", every other
// process 0. Only a kernel thread of that name is it: any program can take a
// kernel thread's name.
inline constexpr const char* ksmd_name = "ksmd";
inline constexpr int ksmd_nice = 4;

enum class log_form { none, with_usage, without_usage };
log_form choose_log(int usage, int nice, int new_nice, int old_policy, int new_policy);
