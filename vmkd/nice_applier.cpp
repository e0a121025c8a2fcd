#include "nice_applier.h"

#include <sched.h>

#include "nice_rules.h"
#include "proc_dir.h"
#include "thread_step.h"

void nice_applier_pass() {
  for_each_process(after_init, [](int pid, const process_texts& t) {
    const int group = match_nice_rule(t.name, t.cmdline);
    if (group < 0) return;
    const nice_treatment treatment = nice_rule_treatment(group);
    change_process(pid, treatment.idle_policy ? policy_change(SCHED_IDLE, 0) : nice_change(treatment.nice));
  });
}
