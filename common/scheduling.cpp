#include "scheduling.h"

#include <sched.h>
#include <sys/resource.h>

const char* policy_name(int policy) {
  switch (policy) {
    case SCHED_OTHER: return "OTHER";
    case SCHED_FIFO: return "FIFO";
    case SCHED_RR: return "RR";
    case SCHED_BATCH: return "BATCH";
    case SCHED_IDLE: return "IDLE";
    default: return "?";
  }
}

void set_nice(int pid, int nice) { setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice); }

void set_policy(int pid, int policy, int rt_priority) {
  const sched_param param = {rt_priority};
  sched_setscheduler(pid, policy, &param);
}
