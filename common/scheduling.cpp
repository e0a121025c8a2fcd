#include "scheduling.h"

#include <sched.h>
#include <sys/resource.h>

void set_nice(int pid, int nice) { setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice); }

void set_policy(int pid, int policy, int rt_priority) {
  const sched_param param = {rt_priority};
  sched_setscheduler(pid, policy, &param);
}
