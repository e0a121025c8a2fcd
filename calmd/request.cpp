#include "request.h"

#include <sched.h>

#include <cstdio>

#include "scheduling.h"

namespace {

void read_number(const char* text, int* value) {
  if (text != nullptr) sscanf(text, "%i", value);
}

}  // namespace

bool make_request(const char* nice, const char* policy, const char* rt_priority, bool for_foreground,
                  priority_request* out) {
  priority_request r;
  read_number(nice, &r.nice);
  r.nice = clamp_nice(r.nice);
  read_number(policy, &r.policy);
  switch (static_cast<unsigned>(r.policy)) {
    case SCHED_OTHER:
    case SCHED_FIFO:
    case SCHED_RR:
    case SCHED_BATCH:
    case SCHED_IDLE: break;
    default: return false;
  }
  read_number(rt_priority, &r.rt_priority);
  if (r.policy == SCHED_FIFO || r.policy == SCHED_RR) {
    // The accepted range is 0 to 100; the kernel refuses 0 and 100 itself.
    r.rt_priority = r.rt_priority < 0 ? 0 : r.rt_priority > 100 ? 100 : r.rt_priority;
    if (for_foreground) r.nice = 0;
  } else {
    r.rt_priority = 0;
    if (r.policy != SCHED_OTHER) r.nice = 0;
  }
  *out = r;
  return true;
}
