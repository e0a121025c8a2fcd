#include "status_format.h"

#include <sched.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "json_text.h"
#include "param_store.h"
#include "scheduling.h"
#include "shown_text.h"
#include "throttle_rules.h"

namespace {

// The limits as they are shown: each policy's minimum, then its maximum.
struct shown_limit {
  frequency_limit limit;
  const char* policy;
  const char* end;
};
constexpr shown_limit shown_limits[frequency_limit_count] = {{frequency_limit::policy0_min, "policy0", "min"},
                                                             {frequency_limit::policy0_max, "policy0", "max"},
                                                             {frequency_limit::policy4_min, "policy4", "min"},
                                                             {frequency_limit::policy4_max, "policy4", "max"}};

const char* owner_key(value_owner owner) {
  switch (owner) {
    case value_owner::another_writer: return "another";
    case value_owner::not_vmkds: return "not_vmkd";
    case value_owner::vmkd: break;
  }
  return "vmkd";
}

// The status's texts: columns, JSON strings and names for a terminal.
struct text_out : bounded_text {
  // Blanks up to the column width from where a field began.
  void pad(size_t from, size_t width) {
    const size_t used = at - from;
    if (used < width) put("%*s", static_cast<int>(width - used), "");
  }
  void json_string(const char* text) {
    put("\"");
    json_string_body(text, strlen(text), [this](const char* data, size_t n) { put_bytes(data, n); });
    put("\"");
  }
  // Names for a terminal, in the kernel log's form that calmd wrote them in.
  void shown(const char* text) {
    shown_text_body(text, strlen(text), shown_form::kernel_log,
                    [this](const char* data, size_t n) { put_bytes(data, n); });
  }
};

void daemon_text(text_out& t, const char* name, const daemon_status& d) {
  if (d.count == 0) {
    t.put("%-6s stopped\n", name);
    return;
  }
  t.put("%-6s running (pid", name);
  if (d.count > 1) t.put("s");
  for (int i = 0; i < d.count && i < max_daemon_pids; ++i) t.put(" %i", d.pids[i]);
  t.put(")\n");
}

void age_text(text_out& t, double age_s) {
  if (age_s < 0)
    t.put("      ");
  else
    t.put("%5.0fs", age_s);
}

// Whose a value is, after it: "vmkd's", "set by another writer: ...".
void judgement_text(text_out& t, const value_judgement& j, int profile, const char* what) {
  if (!j.told) return;
  switch (j.owner) {
    case value_owner::vmkd: t.put("  vmkd's"); return;
    case value_owner::another_writer:
      t.put("  set by another writer: vmkd never writes this %s there in profile %i", what, profile);
      return;
    case value_owner::not_vmkds: t.put("  not vmkd's: vmkd writes it in profile 0 only"); return;
  }
}

// The values that are another writer's, and the running programs known to
// write such files.
void other_writers_text(text_out& t, const status_snapshot& s) {
  bool any = false;
  const auto name = [&](const value_judgement& j, const char* what, const char* end) {
    if (!j.told || j.owner != value_owner::another_writer) return;
    t.put("%s%s%s%s", any ? ", " : "Set by another writer: ", what, end[0] != '\0' ? " " : "", end);
    any = true;
  };
  for (int i = 0; i < cpuset_group_count; ++i) name(s.cpus_whose[i], cpuset_group_names[static_cast<size_t>(i)], "");
  for (const shown_limit& l : shown_limits) name(s.limits_whose[static_cast<int>(l.limit)], l.policy, l.end);
  if (!any) return;
  t.put("\n");
  if (!s.looked_for_writers) return;
  if (s.writer_count == 0) {
    t.put(
        "  No program known to write such files runs (the kernel's thermal limits, a driver or a script may "
        "have set it)\n");
    return;
  }
  t.put("  Running, and known to write such files:");
  for (int i = 0; i < s.writer_count && i < max_writers; ++i) {
    t.put("%s ", i > 0 ? "," : "");
    t.shown(s.writers[i].program);
    t.put(" (pid %i, %s)", s.writers[i].pid, s.writers[i].kind);
  }
  if (s.writer_count > max_writers) t.put(" and %i more", s.writer_count - max_writers);
  t.put("\n");
}

void json_judgement(text_out& t, const value_judgement& j) {
  if (j.told)
    t.put("\"%s\"", owner_key(j.owner));
  else
    t.put("null");
}

void json_pids(text_out& t, const daemon_status& d) {
  t.put("{\"running\":%s,\"pids\":[", d.count > 0 ? "true" : "false");
  for (int i = 0; i < d.count && i < max_daemon_pids; ++i) t.put("%s%i", i > 0 ? "," : "", d.pids[i]);
  t.put("]}");
}

}  // namespace

bool is_focus_hold(const calm_line& l) {
  if (l.kind != calm_line_kind::change) return false;
  const throttle_decision d = decide_throttle(l.nice, l.usage);
  return (d.nice != l.new_nice || d.policy != l.new_policy) && l.new_nice == foreground_treatment.nice &&
         l.new_policy == foreground_treatment.policy;
}

int explain_change(const calm_line& l, char* out, size_t size) {
  if (l.kind == calm_line_kind::parent_push)
    return snprintf(out, size, "its usage of %i or more pushed its parent %s (%i): nice %i -> %i", parent_step_usage,
                    l.parent, l.ppid, l.nice, l.new_nice);
  const throttle_decision d = decide_throttle(l.nice, l.usage);
  if (d.nice == l.new_nice && d.policy == l.new_policy)
    return snprintf(out, size, "usage %i: %s, %s", l.usage, decision_row(l.usage),
                    policy_rule_text(policy_rule_line(l.nice, l.usage)));
  if (is_focus_hold(l))
    return snprintf(out, size, "the focused app: held at nice %i, OTHER", foreground_treatment.nice);
  return snprintf(out, size, "usage %i: not what the table gives (%i, %s)", l.usage, d.nice, policy_name(d.policy));
}

int format_status_text(const status_snapshot& s, char* out, size_t size) {
  text_out t{out, size};
  daemon_text(t, "vmkd", s.vmkd);
  daemon_text(t, "calmd", s.calmd);
  const int profile = profile_in_force(s);
  t.put("Profile %i: %s%s\n", profile, profile_name(profile),
        s.params[cur_profile].present ? "" : " (no file yet: the default)");
  t.put("Parameters (%s):\n", param_dir);
  for (int i = 0; i < user_param_count; ++i) {
    if (s.params[i].present)
      t.put("  %-20s %7i  %s\n", user_params[i].key, s.params[i].value, user_params[i].meaning);
    else
      t.put("  %-20s %7s  %s (default %i)\n", user_params[i].key, "-", user_params[i].meaning,
            user_params[i].default_value);
  }
  t.put("CPUs of each cpuset group:\n");
  for (int i = 0; i < cpuset_group_count; ++i) {
    t.put("  %-18s ", cpuset_group_names[static_cast<size_t>(i)]);
    const size_t from = t.at;
    t.shown(s.cpus[i][0] ? s.cpus[i] : "-");
    t.pad(from, 8);
    judgement_text(t, s.cpus_whose[i], profile, "list");
    t.put("\n");
  }
  if (s.has_foreground_window) {
    t.put("  %-18s ", "foreground_window");
    const size_t from = t.at;
    t.shown(s.foreground_window[0] ? s.foreground_window : "-");
    t.pad(from, 8);
    t.put("  not vmkd's: vmkd does not write this group\n");
  }
  t.put("Frequency limits (kHz):\n");
  for (const shown_limit& l : shown_limits) {
    const int khz = limit_value(s, l.limit);
    if (khz >= 0)
      t.put("  %s %s  %8i", l.policy, l.end, khz);
    else
      t.put("  %s %s  %8s", l.policy, l.end, "-");
    judgement_text(t, s.limits_whose[static_cast<int>(l.limit)], profile, "limit");
    t.put("\n");
  }
  other_writers_text(t, s);
  if (s.sampled) {
    t.put("Load now: c=%i g=%i r=%i w=%i t=%i L=%.2f: band %i, rule %s (%s)\n", s.inputs.cpu_load, s.inputs.gpu_busy,
          s.inputs.runnable, s.inputs.iowait_delta, s.inputs.touch, static_cast<double>(s.inputs.load_avg),
          s.choice.band, rule_name(s.choice.rule), s.reason);
    t.put("  vmkd's table for it: top-app %s, foreground %s, policy0 max %i, policy4 max %i%s\n",
          s.choice.setting.cpus[0], s.choice.setting.cpus[3], s.choice.setting.policy0_max,
          s.choice.setting.policy4_max, profile != 0 ? " (profile not 0: not applied)" : "");
  }
  if (s.asked_focus) {
    t.put("Focused app: ");
    t.shown(s.focus[0] ? s.focus : "(none)");
    t.put("\n");
  }
  if (!s.log_read) {
    t.put("calmd's changes: the kernel log cannot be read\n");
    return t.finish();
  }
  t.put("calmd holds %i process%s down", s.held_down, s.held_down == 1 ? "" : "es");
  if (s.last_pass_age_s >= 0) t.put("; its last pass %.0f s ago", s.last_pass_age_s);
  t.put("\ncalmd's last changes, newest first:\n");
  if (s.change_count == 0) t.put("  none in the kernel log\n");
  for (int i = 0; i < s.change_count; ++i) {
    const calm_line& l = s.changes[i].line;
    char why[256];
    explain_change(l, why, sizeof why);
    t.put("  ");
    age_text(t, s.changes[i].age_s);
    t.put("  ");
    t.shown(l.name);
    t.put(" (%i): ", l.pid);
    if (l.kind == calm_line_kind::change)
      t.put("nice %i -> %i, %s -> %s; ", l.nice, l.new_nice, policy_name(l.old_policy), policy_name(l.new_policy));
    t.shown(why);
    t.put("\n");
  }
  return t.finish();
}

int format_status_json(const status_snapshot& s, char* out, size_t size) {
  text_out t{out, size};
  t.put("{\"vmkd\":");
  json_pids(t, s.vmkd);
  t.put(",\"calmd\":");
  json_pids(t, s.calmd);
  t.put(",\"params\":[");
  for (int i = 0; i < user_param_count; ++i) {
    const user_param& p = user_params[i];
    t.put("%s{\"key\":", i > 0 ? "," : "");
    t.json_string(p.key);
    t.put(",\"present\":%s,\"value\":%i,\"default\":%i,\"low\":%i,\"high\":%i", s.params[i].present ? "true" : "false",
          s.params[i].value, p.default_value, p.low, p.high);
    if (p.also != no_other_value) t.put(",\"also\":%i", p.also);
    t.put(",\"meaning\":");
    t.json_string(p.meaning);
    t.put("}");
  }
  t.put("],\"enable_boost\":%i,\"cpusets\":{", s.enable_boost.present ? s.enable_boost.value : 0);
  for (int i = 0; i < cpuset_group_count; ++i) {
    t.put("%s\"%s\":", i > 0 ? "," : "", cpuset_group_names[static_cast<size_t>(i)]);
    t.json_string(s.cpus[i]);
  }
  if (s.has_foreground_window) {
    t.put(",\"foreground_window\":");
    t.json_string(s.foreground_window);
  }
  t.put("},\"limits\":{\"policy0\":{\"min\":%i,\"max\":%i},\"policy4\":{\"min\":%i,\"max\":%i}}", s.policy0_min,
        s.policy0_max, s.policy4_min, s.policy4_max);
  // Whose each value is: "vmkd", "another" (writer's) or "not_vmkd"; null where not told.
  t.put(",\"whose\":{\"cpusets\":{");
  for (int i = 0; i < cpuset_group_count; ++i) {
    t.put("%s\"%s\":", i > 0 ? "," : "", cpuset_group_names[static_cast<size_t>(i)]);
    json_judgement(t, s.cpus_whose[i]);
  }
  if (s.has_foreground_window) t.put(",\"foreground_window\":\"not_vmkd\"");
  const auto limit = [&](const char* key, frequency_limit l) {
    t.put("%s", key);
    json_judgement(t, s.limits_whose[static_cast<int>(l)]);
  };
  limit("},\"limits\":{\"policy0\":{\"min\":", frequency_limit::policy0_min);
  limit(",\"max\":", frequency_limit::policy0_max);
  limit("},\"policy4\":{\"min\":", frequency_limit::policy4_min);
  limit(",\"max\":", frequency_limit::policy4_max);
  t.put("}},\"writers\":");
  if (!s.looked_for_writers) {
    t.put("null");
  } else {
    t.put("[");
    for (int i = 0; i < s.writer_count && i < max_writers; ++i) {
      t.put("%s{\"pid\":%i,\"program\":", i > 0 ? "," : "", s.writers[i].pid);
      t.json_string(s.writers[i].program);
      t.put(",\"kind\":");
      t.json_string(s.writers[i].kind);
      t.put("}");
    }
    t.put("]");
  }
  t.put(",\"writer_count\":%i}", s.writer_count);
  if (s.sampled) {
    t.put(",\"load\":{\"c\":%i,\"g\":%i,\"r\":%i,\"w\":%i,\"t\":%i,\"L\":", s.inputs.cpu_load, s.inputs.gpu_busy,
          s.inputs.runnable, s.inputs.iowait_delta, s.inputs.touch);
    // A load average that is no number (the file said "nan") has no JSON form.
    const double load = static_cast<double>(s.inputs.load_avg);
    if (std::isfinite(load))
      t.put("%.2f", load);
    else
      t.put("null");
    t.put(",\"band\":%i,\"rule\":\"%s\",\"reason\":", s.choice.band, rule_name(s.choice.rule));
    t.json_string(s.reason);
    t.put(",\"table\":{\"top-app\":");
    t.json_string(s.choice.setting.cpus[0]);
    t.put(",\"policy0_max\":%i,\"policy4_max\":%i},\"since_earlier\":%s,\"counters\":", s.choice.setting.policy0_max,
          s.choice.setting.policy4_max, s.since_earlier ? "true" : "false");
    t.json_string(s.counters);
    t.put("}");
  }
  if (s.asked_focus) {
    t.put(",\"focus\":");
    t.json_string(s.focus);
  }
  if (s.has_focus_hold) {
    t.put(",\"focus_hold\":{\"name\":");
    t.json_string(s.focus_hold.line.name);
    t.put(",\"pid\":%i,\"age_s\":%.1f}", s.focus_hold.line.pid, s.focus_hold.age_s);
  }
  t.put(",\"calmd_log\":{\"read\":%s,\"held_down\":%i,\"last_pass_s\":%.1f,\"changes\":[",
        s.log_read ? "true" : "false", s.held_down, s.last_pass_age_s);
  for (int i = 0; i < s.change_count; ++i) {
    const calm_line& l = s.changes[i].line;
    char why[256];
    explain_change(l, why, sizeof why);
    t.put("%s{\"age_s\":%.1f,\"kind\":\"%s\",\"name\":", i > 0 ? "," : "", s.changes[i].age_s,
          l.kind == calm_line_kind::parent_push ? "parent" : "change");
    t.json_string(l.name);
    t.put(",\"pid\":%i,\"usage\":%i,\"nice\":[%i,%i],\"policy\":[\"%s\",\"%s\"],\"why\":", l.pid, l.usage, l.nice,
          l.new_nice, policy_name(l.old_policy), policy_name(l.new_policy));
    t.json_string(why);
    t.put("}");
  }
  t.put("]}}\n");
  return t.finish();
}

int format_description(const status_snapshot& s, char* out, size_t size) {
  text_out t{out, size};
  const int profile = profile_in_force(s);
  const bool vmkd = s.vmkd.count > 0, calmd = s.calmd.count > 0;
  if (vmkd || calmd) {
    t.put("running:");
    if (vmkd) t.put(" vmkd %s%s", profile_name(profile), calmd ? "," : "");
    if (calmd) t.put(" calmd %i throttled", s.held_down);
  }
  if (!vmkd || !calmd) {
    t.put("%sstopped: ", vmkd || calmd ? "; " : "");
    t.put("%s", !vmkd && !calmd ? "vmkd and calmd" : !vmkd ? "vmkd" : "calmd");
  }
  return t.finish();
}
