// The one-shot priority commands: "-r", "-rk", "-t" and "-c".
#pragma once

void reset_all_priorities();
void reset_kernel_thread_nice();
void set_priority_by_name(const char* name, int nice, int policy, int rt_priority);
void set_priority_of_foreground(int nice, int policy, int rt_priority);
