// The two scheduling calls every changer of other processes makes; their
// results are not used (the process may have ended, the kernel may refuse).
#pragma once

// setpriority with PRIO_PROCESS.
void set_nice(int pid, int nice);
// sched_setscheduler with the real-time priority in the parameters.
void set_policy(int pid, int policy, int rt_priority);
