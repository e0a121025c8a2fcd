#include "nice_applier.h"

#include <sched.h>
#include <sys/resource.h>

#include <array>

#include "proc_dir.h"
#include "process_identity.h"
#include "scan_int.h"

namespace {

struct rule_group {
  std::array<std::string_view, 9> patterns;  // unused slots are empty
  nice_treatment treatment;
};

constexpr std::array<rule_group, 5> rule_groups = {{
    {{"dex2oat", "Metrica", "metrica", "Analytics", "analytics", "com.xiaomi.xmsf", "com.miui.daemon",
      "com.miui.msa.global", "android.process.media"},
     {true, 0}},
    {{"logd", "com.miui.face", "com.google.android.apps.photos", "com.google.android.music",
      "com.facebook.appmanager"},
     {false, 19}},
    {{"com.mi.android.globalminusscreen"}, {false, 4}},
    {{"fingerprint"}, {false, -3}},
    {{"lmkd"}, {false, 1}},
}};

}  // namespace

int match_nice_rule(std::string_view name, std::string_view cmdline) {
  for (size_t group = 0; group < rule_groups.size(); ++group)
    for (std::string_view pattern : rule_groups[group].patterns) {
      if (pattern.empty()) break;
      if (name.find(pattern) != std::string_view::npos || cmdline.find(pattern) != std::string_view::npos)
        return static_cast<int>(group);
    }
  return -1;
}

nice_treatment nice_rule_treatment(int group) { return rule_groups[static_cast<size_t>(group)].treatment; }

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
