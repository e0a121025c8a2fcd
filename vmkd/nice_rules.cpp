#include "nice_rules.h"

#include <array>

namespace {

struct rule_group {
  std::array<std::string_view, 9> patterns;  // unused slots are empty
  nice_treatment treatment;
};

constexpr std::array<rule_group, 5> rule_groups = {{
    {{"dex2oat", "Metrica", "metrica", "Analytics", "analytics", "com.xiaomi.xmsf", "com.miui.daemon",
      "com.miui.msa.global", "android.process.media"},
     {true, 0}},
    {{"logd", "com.miui.face", "com.google.android.apps.photos", "com.google.android.music", "com.facebook.appmanager"},
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
