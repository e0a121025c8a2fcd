// A change to a process, made to its main thread and to the threads that
// move with it. On Linux setpriority(PRIO_PROCESS, pid) and
// sched_setscheduler(pid) change only the thread whose id is pid, the main
// thread, while a process's CPU use is that of all its threads.
#pragma once

struct sched_values {
  int nice = 0;
  int policy = 0;  // as /proc gives it: without SCHED_RESET_ON_FORK
};

bool is_real_time(int policy);

// A thread moves with the main thread when it had the main thread's values
// just before the change, under a policy that is not real-time. Threads the
// app or Android set apart (an audio thread under SCHED_FIFO, workers at a
// background nice, a boosted render thread) keep their own.
bool moves_with_main(const sched_values& main_before, const sched_values& thread);

// A new nice value, a new policy (with its real-time priority), or both.
struct sched_change {
  bool sets_nice = false;
  int nice = 0;
  bool sets_policy = false;
  int policy = 0;
  int rt_priority = 0;
  bool policy_first = false;  // the order of the two calls
};
sched_change nice_change(int nice);
sched_change policy_change(int policy, int rt_priority);
sched_change nice_then_policy(int nice, int policy);
sched_change policy_then_nice(int policy, int rt_priority, int nice);

// The main thread's values once the change is made (the nice value within
// -20..19, as the kernel keeps it).
sched_values values_after(const sched_values& before, const sched_change& change);
// Whether the other threads are looked at: not when the main thread's values
// stay as they were, nor when they were real-time (no thread moves then).
bool threads_to_walk(const sched_values& main_before, const sched_change& change);

// The change made to the main thread (the tid pid), then, when its values
// change, to each other thread that moves with it. Tasks gives the walk:
//   for_each_thread(pid, visit(tid))  the process's thread ids
//   read(pid, tid, sched_values*)     false when the thread has ended
//   apply(tid, change)                the calls
// Threads that end or start during the walk are passed over or not seen; a
// thread started after the change takes its creator's values from the kernel.
template <class Tasks>
void change_process_with(Tasks& tasks, int pid, const sched_values& main_before, const sched_change& change) {
  tasks.apply(pid, change);
  if (!threads_to_walk(main_before, change)) return;
  tasks.for_each_thread(pid, [&](int tid) {
    sched_values thread;
    if (tid != pid && tasks.read(pid, tid, &thread) && moves_with_main(main_before, thread)) tasks.apply(tid, change);
  });
}

// ---- over /proc and the scheduling calls ----

// A thread's values (the main thread's for a pid); false when it has ended.
bool read_sched_values(int tid, sched_values* out);
// The change to one thread only, as set_nice and set_policy make it.
void apply_change(int tid, const sched_change& change);
// change_process_with over /proc/<pid>/task.
void change_process(int pid, const sched_values& main_before, const sched_change& change);
// The same with the main thread's values read first; when they cannot be
// (the process ended), the main thread alone.
void change_process(int pid, const sched_change& change);
