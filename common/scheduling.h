// The two scheduling calls every changer of other processes makes; their
// results are not used (the process may have ended, the kernel may refuse).
#pragma once

// A nice value within the kernel's -20..19.
inline int clamp_nice(int nice) { return nice < -20 ? -20 : nice > 19 ? 19 : nice; }

// "OTHER", "FIFO", "RR", "BATCH", "IDLE" for a policy number; "?" else.
const char* policy_name(int policy);

// setpriority with PRIO_PROCESS.
void set_nice(int pid, int nice);
// sched_setscheduler with the real-time priority in the parameters.
void set_policy(int pid, int policy, int rt_priority);
