#include "nice_applier.h"

#include <sched.h>
#include <sys/resource.h>

#include "nice_rules.h"
#include "proc_dir.h"
#include "process_identity.h"
#include "scan_int.h"

void nice_applier_pass() {
  for_each_dir_entry("/proc", [](const char* entry) {
    int pid = 0;
    scan_int(entry, &pid);
    if (pid == 0 || pid == 1) return;
    char name[comm_text_size];
    char cmdline[cmdline_text_size];
    read_comm(name, pid);
    read_cmdline(cmdline, pid);
    const int group = match_nice_rule(name, cmdline);
    if (group < 0) return;
    const nice_treatment t = nice_rule_treatment(group);
    if (t.idle_policy) {
      const sched_param param = {0};
      sched_setscheduler(pid, SCHED_IDLE, &param);
    } else {
      setpriority(PRIO_PROCESS, static_cast<id_t>(pid), t.nice);
    }
  });
}
