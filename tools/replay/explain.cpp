#include "explain.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>

#include "activity.h"
#include "cpu_load.h"
#include "nice_rules.h"
#include "sandbox.h"
#include "throttle_rules.h"

namespace replay {
namespace {

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    const size_t next = line.find('\t', at);
    out.push_back(line.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) return out;
    at = next + 1;
  }
}

std::string unescaped(const std::string& text) {
  std::string out(text.size() + 1, '\0');
  if (!trace::unescape_text(text.c_str(), text.size(), out.data(), out.size())) return text;
  out.resize(strlen(out.c_str()));
  return out;
}

double ms(const std::string& us) { return static_cast<double>(atoll(us.c_str())) / 1000; }

std::string trim_newline(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// What one read of a fed file gave, as the daemon's own formats read it.
struct read_record {
  double time_ms;
  std::string file;
  std::string text;
};

struct write_record {
  double time_ms;
  std::string path, text;
};

std::string stat_text(const trace_model& m, const std::vector<std::string>& f) {
  unsigned long long cpu[trace::cpu_counter_count] = {};
  for (int i = 0; i < trace::cpu_counter_count && 4 + i < static_cast<int>(f.size()); ++i)
    cpu[i] = strtoull(f[4 + static_cast<size_t>(i)].c_str(), nullptr, 10);
  const unsigned long long ctxt = f.size() > 12 ? strtoull(f[12].c_str(), nullptr, 10) : 0;
  const int running = f.size() > 13 ? atoi(f[13].c_str()) : 0;
  static char text[16384];
  const int n = trace::format_proc_stat(cpu, ctxt, m.header.cpus, m.header.ctxt_at, running, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// The scaling loop's reading of the texts, with its own formats.
class cycle_builder {
 public:
  cycle_builder(int profile, std::vector<scaling_cycle_record>* out) : profile_(profile), out_(out) {}

  void read(const read_record& r) {
    if (r.file == "stat") {
      if (step_ == 0 || step_ == 1) {
        if (step_ == 0) begin(r.time_ms);
        long double v[5];
        cpu_counters& target = step_ == 0 ? first_ : second_;
        if (sscanf(r.text.c_str(), "%*s %Lf %Lf %Lf %Lf %Lf", &v[0], &v[1], &v[2], &v[3], &v[4]) == 5)
          target = {static_cast<quad>(v[0]), static_cast<quad>(v[1]), static_cast<quad>(v[2]), static_cast<quad>(v[3]),
                    static_cast<quad>(v[4])};
        ++step_;
        return;
      }
      if (step_ == 3) {
        int iowait = previous_iowait_;
        sscanf(r.text.c_str(), "cpu %*i %*i %*i %*i %i", &iowait);
        current_.in.iowait_delta =
            static_cast<int>(static_cast<unsigned>(iowait) - static_cast<unsigned>(previous_iowait_));
        previous_iowait_ = iowait;
        step_ = 4;
        return;
      }
      broken(r.time_ms);
      read(r);
      return;
    }
    if (r.file == "gpu" && step_ == 2) {
      sscanf(r.text.c_str(), "%i %%\n", &current_.in.gpu_busy);
      return;
    }
    if (r.file == "touch" && step_ == 4) {
      sscanf(r.text.c_str(), "%i\n", &current_.in.touch);
      return;
    }
    if (r.file == "loadavg" && step_ == 2) {
      sscanf(r.text.c_str(), "%*f %*f %*f %i/%*i", &runnable_);
      current_.in.runnable = runnable_;
      step_ = 3;
      return;
    }
    if (r.file == "loadavg" && step_ == 4) {
      sscanf(r.text.c_str(), "%f %*f %*f", &load_avg_);
      current_.in.load_avg = load_avg_;
      finish_inputs(r.time_ms);
      return;
    }
    broken(r.time_ms);
  }

  void write(const write_record& w) {
    if (!open_) return;
    scaling_cycle_record& c = out_->back();
    c.wrote = true;
    c.end_ms = w.time_ms;
    const std::string value = trim_newline(w.text);
    for (int i = 0; i < cpuset_group_count; ++i)
      if (w.path == cpuset_files[static_cast<size_t>(i)]) c.cpus[static_cast<size_t>(i)] = value;
    const struct {
      const char* path;
      int* target;
    } limits[] = {{"/sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq", &c.policy0_max},
                  {"/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq", &c.policy4_max},
                  {"/sys/devices/system/cpu/cpufreq/policy0/scaling_min_freq", &c.policy0_min},
                  {"/sys/devices/system/cpu/cpufreq/policy4/scaling_min_freq", &c.policy4_min}};
    for (const auto& l : limits)
      if (w.path == l.path) *l.target = atoi(value.c_str());
  }

  // Checks the last cycle once its writes are in; last: the replay ended after it.
  void close_cycle(bool last) {
    if (!open_) return;
    open_ = false;
    scaling_cycle_record& c = out_->back();
    if (last && c.writes_expected && !c.wrote) {
      out_->pop_back();  // cut off by the end of the replay
      return;
    }
    std::string diff;
    if (!c.writes_expected) {
      if (c.wrote) diff = "wrote a setting where the fixed regime writes nothing";
    } else {
      for (int i = 0; i < cpuset_group_count; ++i) {
        const size_t k = static_cast<size_t>(i);
        if (c.cpus[k] != c.expected.cpus[k])
          diff += std::string(cpuset_files[k]) + " \"" + c.cpus[k] + "\" (table: \"" + c.expected.cpus[k] + "\"); ";
      }
      if (c.policy0_max != c.expected.policy0_max)
        diff += "policy0 max " + std::to_string(c.policy0_max) + " (table: " + std::to_string(c.expected.policy0_max) +
                "); ";
      if (c.policy4_max != c.expected.policy4_max)
        diff += "policy4 max " + std::to_string(c.policy4_max) + " (table: " + std::to_string(c.expected.policy4_max) +
                "); ";
      if (!c.fixed && (c.policy0_min != 614400 || c.policy4_min != 633600))
        diff += "minimum limits " + std::to_string(c.policy0_min) + "/" + std::to_string(c.policy4_min) +
                " (614400/633600); ";
    }
    c.agrees = diff.empty();
    c.disagreement = diff;
  }

  // A cycle whose reads the end of the replay cut off is left out.
  void end() { close_cycle(true); }
  int incomplete() const { return incomplete_; }

 private:
  void begin(double time_ms) {
    close_cycle(false);
    current_ = scaling_cycle_record{};
    current_.start_ms = time_ms;
    current_.in.runnable = runnable_;
    current_.in.load_avg = load_avg_;
    step_ = 0;
  }
  void broken(double) {
    ++incomplete_;
    step_ = 0;
  }
  void finish_inputs(double time_ms) {
    scaling_cycle_record c = current_;
    c.end_ms = time_ms;
    c.in.cpu_load = cpu_load_between(first_, second_);
    c.profile = profile_;
    const scaling_choice choice = choose_scaling(c.in);
    c.band = choice.band;
    c.rule = choice.rule;
    char reason[160];
    describe_decision(c.in, reason, sizeof reason);
    c.reason = reason;
    if (profile_ != 0) {
      c.fixed = true;
      c.writes_expected = !full_setting_written_;
      c.expected = full_setting;
      c.reason = "fixed profile " + std::to_string(profile_) +
                 (c.writes_expected ? ": the full setting, written once" : ": nothing written");
      full_setting_written_ = true;
    } else {
      c.expected = choice.setting;
      full_setting_written_ = false;
    }
    out_->push_back(c);
    open_ = true;
    step_ = 0;
  }

  int profile_;
  std::vector<scaling_cycle_record>* out_;
  scaling_cycle_record current_;
  cpu_counters first_, second_;
  int step_ = 0;
  bool open_ = false;
  bool full_setting_written_ = false;
  int previous_iowait_ = 0, runnable_ = 0, incomplete_ = 0;
  float load_avg_ = 0;
};

const std::regex usage_line(R"(^(.*) \((-?\d+)\): (-?\d+)% \[-?\d+ jiff\], => (-?\d+)>(-?\d+) \((-?\d+)>(-?\d+)\)$)");
const std::regex quiet_line(R"(^(.*) \((-?\d+)\): => (-?\d+)>(-?\d+) \((-?\d+)>(-?\d+)\)$)");
const std::regex parent_line(R"(^(.*) \((-?\d+)\): parent \((.*) \((-?\d+)\)\) throttled: (-?\d+) => (-?\d+)\.$)");
const std::regex active_line(R"(^___Active,_ctxt:(-?\d+),nr:(-?\d+)___$)");

std::string policy_rule_text(int line) {
  switch (line) {
    case 1: return "policy rule 1 (U = 100 or N = 19): IDLE";
    case 2: return "policy rule 2 (U >= 80 or N > 13): BATCH";
    case 3: return "policy rule 3: OTHER";
    default: return "U <= 2: OTHER";
  }
}

}  // namespace

int cpus_in_list(const std::string& list) {
  int count = 0;
  std::stringstream parts(list);
  std::string part;
  while (std::getline(parts, part, ',')) {
    int low = 0, high = 0;
    if (sscanf(part.c_str(), "%i-%i", &low, &high) == 2)
      count += high - low + 1;
    else if (!part.empty())
      ++count;
  }
  return count;
}

replay_result explain(const trace_model& m, const std::string& log, int profile) {
  replay_result result;
  result.duration_ms = static_cast<double>(m.duration_ms);
  const size_t n = m.processes.size();
  result.stand_in_pid.assign(n, 0);
  result.recorded_pid_kept.assign(n, 0);
  result.scheduling.resize(n);
  result.burnt_seconds.assign(n, 0);

  int calmd = 0;
  std::map<int, cycle_builder> builders;  // per vmkd process that reads the fed files
  std::map<int, size_t> index_of_pid;     // stand-in pid -> process index
  std::map<size_t, std::string> focus_at_index;
  std::string focus;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = fields_of(line);
    if (f.empty() || f[0].empty()) continue;
    const char kind = f[0][0];
    if (kind == 'D' && f.size() >= 3 && f[1] == "calmd") calmd = atoi(f[2].c_str());
    if (kind == 'R' && f.size() >= 5) {
      const int pid = atoi(f[2].c_str());
      if (pid == calmd) continue;
      auto it = builders.try_emplace(pid, profile, &result.cycles).first;
      read_record r{ms(f[1]), f[3], f[3] == "stat" ? stat_text(m, f) : unescaped(f[4])};
      it->second.read(r);
    }
    if (kind == 'W' && f.size() >= 5) {
      const auto it = builders.find(atoi(f[2].c_str()));
      if (it != builders.end()) it->second.write({ms(f[1]), f[3], unescaped(f[4])});
    }
    if (kind == 'S' && f.size() >= 5) {
      const size_t index = static_cast<size_t>(atoi(f[2].c_str()));
      const int pid = atoi(f[3].c_str());
      if (index < n) {
        result.stand_in_pid[index] = pid;
        result.recorded_pid_kept[index] = pid == atoi(f[4].c_str());
        index_of_pid[pid] = index;
      }
    }
    if (kind == 'N' && f.size() >= 5) {
      const size_t index = static_cast<size_t>(atoi(f[2].c_str()));
      if (index < n) result.scheduling[index].push_back({ms(f[1]), atoi(f[3].c_str()), atoi(f[4].c_str())});
    }
    if (kind == 'A' && f.size() >= 3) {
      const size_t index = static_cast<size_t>(atoi(f[1].c_str()));
      if (index < n) result.burnt_seconds[index] = static_cast<double>(atoll(f[2].c_str())) / 100;
    }
    if (kind == 'F' && f.size() >= 3) {
      focus = unescaped(f[2]);
      result.focus.push_back({ms(f[1]), focus});
    }
    if (kind == 'B' && f.size() >= 4)
      result.burns.push_back({ms(f[1]), atof(f[2].c_str()) / 1000, atof(f[3].c_str()) / 1000});
    if (kind == 'C' && f.size() >= 5)
      result.costs.push_back(
          {atoi(f[1].c_str()), f[2], static_cast<double>(atoll(f[3].c_str())) / 100, atol(f[4].c_str())});
    if (kind == '!' && f.size() >= 3) result.faults.push_back(unescaped(f[2]));
    if (kind == 'K' && f.size() >= 3) {
      std::string text = unescaped(f[2]);
      const std::string tag = "[calm]: ";
      if (text.compare(0, tag.size(), tag) != 0) continue;
      text.erase(0, tag.size());
      std::smatch match;
      const double time_ms = ms(f[1]);
      if (std::regex_match(text, match, active_line)) {
        throttle_pass_record pass;
        pass.time_ms = time_ms;
        pass.ctxt = atoi(match[1].str().c_str());
        pass.nr = atoi(match[2].str().c_str());
        switch (busy_sign_of(pass.ctxt, pass.nr)) {
          case busy_sign::context_switches:
            pass.trigger = "context switches: ctxt = " + std::to_string(pass.ctxt) + " > 5999";
            break;
          case busy_sign::runnable: pass.trigger = "runnable count: nr = " + std::to_string(pass.nr) + " >= 5"; break;
          case busy_sign::none:
            pass.trigger = result.passes.empty() ? "clock: first cycle" : "clock: more than 2 s since the last pass";
            break;
        }
        result.passes.push_back(pass);
        continue;
      }
      if (result.passes.empty()) continue;
      throttle_pass_record& pass = result.passes.back();
      auto index_for = [&](int pid) {
        const auto it = index_of_pid.find(pid);
        return it == index_of_pid.end() ? -1 : static_cast<int>(it->second);
      };
      if (std::regex_match(text, match, parent_line)) {
        parent_push p;
        p.child = match[1];
        p.child_pid = atoi(match[2].str().c_str());
        p.parent = match[3];
        p.parent_pid = atoi(match[4].str().c_str());
        p.before = atoi(match[5].str().c_str());
        p.after = atoi(match[6].str().c_str());
        pass.parents.push_back(p);
        continue;
      }
      process_change c;
      const bool with_usage = std::regex_match(text, match, usage_line);
      if (!with_usage && !std::regex_match(text, match, quiet_line)) continue;
      int k = 1;
      c.name = match[k++];
      c.pid = atoi(match[k++].str().c_str());
      if (with_usage) c.usage = atoi(match[k++].str().c_str());
      c.nice_before = atoi(match[k++].str().c_str());
      c.nice_after = atoi(match[k++].str().c_str());
      c.policy_before = atoi(match[k++].str().c_str());
      c.policy_after = atoi(match[k++].str().c_str());
      c.index = index_for(c.pid);
      const int usage = c.usage < 0 ? 0 : c.usage;
      const throttle_decision d = decide_throttle(c.nice_before, usage);
      const std::string cmdline = c.index >= 0 ? m.processes[static_cast<size_t>(c.index)].cmdline : "";
      const bool foreground = !focus.empty() && cmdline.find(focus) != std::string::npos;
      char text_why[256];
      if (c.nice_after == -4 && c.policy_after == SCHED_OTHER && (foreground || c.index < 0)) {
        snprintf(text_why, sizeof text_why, "foreground app (command line holds \"%s\"): nice -4, OTHER",
                 focus.c_str());
      } else if (d.nice == c.nice_after && d.policy == c.policy_after) {
        snprintf(text_why, sizeof text_why, "%s: %i -> %i; %s", decision_row(usage), c.nice_before, d.nice,
                 policy_rule_text(policy_rule_line(c.nice_before, usage)).c_str());
      } else {
        snprintf(text_why, sizeof text_why, "not what the table gives (%i, %s)", d.nice,
                 sandbox::policy_name(d.policy));
        c.explained = false;
        ++result.unexplained;
      }
      c.why = text_why;
      // The parent step is logged just before its child's own line.
      for (parent_push& p : pass.parents) {
        if (p.child_pid != c.pid || p.usage >= 0) continue;
        p.usage = usage;
        const int expected = parent_nice(p.before, usage);
        char why[160];
        snprintf(why, sizeof why, "child usage %i >= 48: parent nice %i %s = %i", usage, p.before,
                 usage > 63 ? "+ 3 (usage > 63)" : "+ 1", expected);
        p.why = why;
        p.explained = expected == p.after;
        if (!p.explained) ++result.unexplained;
      }
      pass.changes.push_back(c);
    }
  }
  for (auto& [pid, builder] : builders) {
    builder.end();
    result.incomplete_cycles += builder.incomplete();
  }
  std::stable_sort(
      result.cycles.begin(), result.cycles.end(),
      [](const scaling_cycle_record& a, const scaling_cycle_record& b) { return a.start_ms < b.start_ms; });
  for (const scaling_cycle_record& c : result.cycles)
    if (!c.agrees) ++result.disagreements;

  // The nice applier: which stand-ins its rules match, and how often their
  // scheduling was seen becoming its treatment.
  for (size_t i = 0; i < n; ++i) {
    if (result.stand_in_pid[i] == 0) continue;
    const recorded_process& p = m.processes[i];
    const std::string comm = p.comm.substr(0, 15);
    const int group = match_nice_rule(comm, p.cmdline);
    if (group < 0) continue;
    const nice_treatment t = nice_rule_treatment(group);
    applier_target a;
    a.index = static_cast<int>(i);
    a.name = p.comm;
    a.group = group + 1;
    a.treatment = t.idle_policy ? "policy IDLE" : "nice " + std::to_string(t.nice);
    for (const scheduling_point& s : result.scheduling[i]) {
      if ((t.idle_policy && s.policy == SCHED_IDLE) || (!t.idle_policy && s.nice == t.nice)) {
        ++a.times_set;
        if (a.first_ms < 0) a.first_ms = s.time_ms;
      }
    }
    result.applier.push_back(a);
  }
  return result;
}

}  // namespace replay
