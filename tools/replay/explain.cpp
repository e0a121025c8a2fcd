#include "explain.h"

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <sstream>

#include "activity.h"
#include "calm_log.h"
#include "nice_rules.h"
#include "phone_proc.h"
#include "record_log.h"
#include "scaling_reads.h"
#include "scheduling.h"
#include "throttle_rules.h"

namespace replay {
namespace {

double ms(long long us) { return static_cast<double>(us) / 1000; }

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

std::string stat_text(const trace_model& m, const fed_read& r) {
  return sandbox::phone_stat_text(r.cpu, r.ctxt, m.header.cpus, m.header.ctxt_at, r.running);
}

// A scaling cycle rebuilt from the reads the replay saw: the same texts in
// the order the loop reads them, made into inputs by the loop's own code.
class cycle_builder {
 public:
  cycle_builder(int profile, std::vector<scaling_cycle_record>* out) : profile_(profile), out_(out) {}

  void read(const read_record& r) {
    constexpr size_t reads = std::size(scaling_read_order);
    // The files outside /proc (the GPU's, the touch screen's) may be
    // missing: then no read of them is seen.
    size_t at = step_;
    while (at < reads && !is_read(at, r.file) && strncmp(scaling_read_order[at].path, "/proc/", 6) != 0) ++at;
    if (at < reads && is_read(at, r.file)) {
      if (at == 0) begin(r.time_ms);
      value_text& text = texts_.*scaling_read_order[at].text;
      text.opened = true;
      snprintf(text.text, sizeof text.text, "%s", r.text.c_str());
      step_ = at + 1;
      if (step_ == reads) finish_inputs(r.time_ms);
      return;
    }
    broken();
    if (r.file == "stat") read(r);  // the start of the next cycle
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
    } limits[] = {{policy0_max_file, &c.policy0_max},
                  {policy4_max_file, &c.policy4_max},
                  {policy0_min_file, &c.policy0_min},
                  {policy4_min_file, &c.policy4_min}};
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
      if (!c.fixed && (c.policy0_min != policy0_min_khz || c.policy4_min != policy4_min_khz))
        diff += "minimum limits " + std::to_string(c.policy0_min) + "/" + std::to_string(c.policy4_min) + " (" +
                std::to_string(policy0_min_khz) + "/" + std::to_string(policy4_min_khz) + "); ";
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
    texts_ = scaling_texts{};
  }
  // Whether a read of the fed file so named is the cycle's read at that place.
  static bool is_read(size_t at, const std::string& file) {
    for (const fed_file_name& f : fed_file_names)
      if (file == f.name) return strcmp(f.path, scaling_read_order[at].path) == 0;
    return false;
  }
  void broken() {
    ++incomplete_;
    step_ = 0;
  }
  void finish_inputs(double time_ms) {
    scaling_cycle_record c = current_;
    c.end_ms = time_ms;
    c.in = scaling_inputs_from(texts_, &memory_);
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
  scaling_texts texts_;
  scaling_memory memory_;  // carried from cycle to cycle, as the loop does
  size_t step_ = 0;        // the place in the cycle's reads of the next one
  bool open_ = false;
  bool full_setting_written_ = false;
  int incomplete_ = 0;
};

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

namespace {

// Reads the record log one record at a time into the result.
class log_reader {
 public:
  log_reader(const trace_model& m, int profile, replay_result* result) : m_(m), profile_(profile), r_(*result) {
    const size_t n = m.processes.size();
    r_.duration_ms = static_cast<double>(m.duration_ms);
    r_.stand_in_pid.assign(n, 0);
    r_.recorded_pid_kept.assign(n, 0);
    r_.scheduling.resize(n);
    r_.burnt_seconds.assign(n, 0);
  }

  // One handler per record kind; the kinds the explanation does not use are skipped.
  void operator()(const daemon_started& d) {
    if (d.role == "calmd") calmd_ = d.pid;
  }
  void operator()(const fed_read& r) {
    if (r.pid == calmd_) return;
    auto it = builders_.try_emplace(r.pid, profile_, &r_.cycles).first;
    it->second.read({ms(r.time_us), r.file, r.file == "stat" ? stat_text(m_, r) : r.text});
  }
  void operator()(const output_write& w) {
    if (const auto it = builders_.find(w.pid); it != builders_.end()) it->second.write({ms(w.time_us), w.path, w.text});
  }
  void operator()(const stand_in_started& s) {
    const size_t index = index_of(s.index);
    if (index >= m_.processes.size()) return;
    r_.stand_in_pid[index] = s.pid;
    r_.recorded_pid_kept[index] = s.pid == s.recorded_pid;
    index_of_pid_[s.pid] = index;
  }
  void operator()(const scheduling_seen& n) {
    if (const size_t index = index_of(n.index); index < m_.processes.size())
      r_.scheduling[index].push_back({ms(n.time_us), n.nice, n.policy});
  }
  void operator()(const stand_in_spent& a) {
    if (const size_t index = index_of(a.index); index < m_.processes.size())
      r_.burnt_seconds[index] = static_cast<double>(a.ticks) / 100;
  }
  void operator()(const focus_named& f) {
    focus_ = f.package;
    r_.focus.push_back({ms(f.time_us), focus_});
  }
  void operator()(const burn_shares& b) {
    r_.burns.push_back({ms(b.time_us), static_cast<double>(b.demand) / 1000, static_cast<double>(b.granted) / 1000});
  }
  void operator()(const daemon_spent& c) {
    r_.costs.push_back({c.pid, c.role, static_cast<double>(c.ticks) / 100, c.hwm_kib});
  }
  void operator()(const feeder_fault& f) { r_.faults.push_back(f.text); }
  void operator()(const kernel_line& k) { kernel_log(ms(k.time_us), k.text); }
  void operator()(const stand_in_ended&) {}
  void operator()(const replay_ended&) {}

  void finish() {
    for (auto& [pid, builder] : builders_) {
      builder.end();
      r_.incomplete_cycles += builder.incomplete();
    }
    std::stable_sort(
        r_.cycles.begin(), r_.cycles.end(),
        [](const scaling_cycle_record& a, const scaling_cycle_record& b) { return a.start_ms < b.start_ms; });
    for (const scaling_cycle_record& c : r_.cycles)
      if (!c.agrees) ++r_.disagreements;
    explain_applier();
  }

 private:
  static size_t index_of(int index) { return index < 0 ? SIZE_MAX : static_cast<size_t>(index); }

  int index_for(int pid) const {
    const auto it = index_of_pid_.find(pid);
    return it == index_of_pid_.end() ? -1 : static_cast<int>(it->second);
  }

  void kernel_log(double time_ms, const std::string& record) {
    if (record.compare(0, sizeof calm_tag - 1, calm_tag) != 0) return;
    calm_line line;
    if (!parse_calm_line(record.c_str() + sizeof calm_tag - 1, &line)) return;
    if (line.kind == calm_line_kind::pass_start) return pass_start(time_ms, line);
    if (r_.passes.empty()) return;
    if (line.kind == calm_line_kind::parent_push) return parent_pushed(line);
    change(line);
  }

  void pass_start(double time_ms, const calm_line& line) {
    throttle_pass_record pass;
    pass.time_ms = time_ms;
    pass.ctxt = line.ctxt;
    pass.nr = line.nr;
    switch (busy_sign_of(pass.ctxt, pass.nr)) {
      case busy_sign::context_switches:
        pass.trigger = "context switches: ctxt = " + std::to_string(pass.ctxt) + " > 5999";
        break;
      case busy_sign::runnable: pass.trigger = "runnable count: nr = " + std::to_string(pass.nr) + " >= 5"; break;
      case busy_sign::none:
        pass.trigger = r_.passes.empty() ? "clock: first cycle" : "clock: more than 2 s since the last pass";
        break;
    }
    r_.passes.push_back(pass);
  }

  void parent_pushed(const calm_line& line) {
    parent_push p;
    p.child = line.name;
    p.child_pid = line.pid;
    p.parent = line.parent;
    p.parent_pid = line.ppid;
    p.before = line.nice;
    p.after = line.new_nice;
    r_.passes.back().parents.push_back(p);
  }

  void change(const calm_line& line) {
    throttle_pass_record& pass = r_.passes.back();
    process_change c;
    c.name = line.name;
    c.pid = line.pid;
    c.usage = line.usage > 0 ? line.usage : -1;
    c.nice_before = line.nice;
    c.nice_after = line.new_nice;
    c.policy_before = line.old_policy;
    c.policy_after = line.new_policy;
    c.index = index_for(c.pid);
    const int usage = line.usage;
    const throttle_decision d = decide_throttle(c.nice_before, usage);
    const std::string cmdline = c.index >= 0 ? m_.processes[static_cast<size_t>(c.index)].cmdline : "";
    const bool foreground = !focus_.empty() && cmdline.find(focus_) != std::string::npos;
    const bool held = c.nice_after == foreground_treatment.nice && c.policy_after == foreground_treatment.policy;
    char why[256];
    if (held && (foreground || c.index < 0)) {
      snprintf(why, sizeof why, "foreground app (command line holds \"%s\"): nice %i, %s", focus_.c_str(),
               foreground_treatment.nice, ::policy_name(foreground_treatment.policy));
    } else if (d.nice == c.nice_after && d.policy == c.policy_after) {
      snprintf(why, sizeof why, "%s: %i -> %i; %s", decision_row(usage), c.nice_before, d.nice,
               policy_rule_text(policy_rule_line(c.nice_before, usage)));
    } else {
      snprintf(why, sizeof why, "not what the table gives (%i, %s)", d.nice, ::policy_name(d.policy));
      c.explained = false;
      ++r_.unexplained;
    }
    c.why = why;
    // The parent step is logged just before its child's own line.
    for (parent_push& p : pass.parents) {
      if (p.child_pid != c.pid || p.usage >= 0) continue;
      p.usage = usage;
      const int expected = parent_nice(p.before, usage);
      char text[160];
      snprintf(text, sizeof text, "child usage %i >= %i: parent nice %i %s = %i", usage, parent_step_usage, p.before,
               usage > 63 ? "+ 3 (usage > 63)" : "+ 1", expected);
      p.why = text;
      p.explained = expected == p.after;
      if (!p.explained) ++r_.unexplained;
    }
    pass.changes.push_back(c);
  }

  // The nice applier: which stand-ins its rules match, and how often their
  // scheduling was seen becoming its treatment.
  void explain_applier() {
    for (size_t i = 0; i < m_.processes.size(); ++i) {
      if (r_.stand_in_pid[i] == 0) continue;
      const recorded_process& p = m_.processes[i];
      const int group = match_nice_rule(p.comm.substr(0, 15), p.cmdline);
      if (group < 0) continue;
      const nice_treatment t = nice_rule_treatment(group);
      applier_target a;
      a.index = static_cast<int>(i);
      a.name = p.comm;
      a.group = group + 1;
      a.treatment = t.idle_policy ? "policy IDLE" : "nice " + std::to_string(t.nice);
      for (const scheduling_point& s : r_.scheduling[i]) {
        if ((t.idle_policy && s.policy == SCHED_IDLE) || (!t.idle_policy && s.nice == t.nice)) {
          ++a.times_set;
          if (a.first_ms < 0) a.first_ms = s.time_ms;
        }
      }
      r_.applier.push_back(a);
    }
  }

  const trace_model& m_;
  const int profile_;
  replay_result& r_;
  int calmd_ = 0;
  std::map<int, cycle_builder> builders_;  // per vmkd process that reads the fed files
  std::map<int, size_t> index_of_pid_;     // stand-in pid -> process index
  std::string focus_;
};

}  // namespace

replay_result explain(const trace_model& m, const std::string& log, int profile) {
  replay_result result;
  log_reader reader(m, profile, &result);
  std::istringstream lines(log);
  log_record r;
  for (std::string line; std::getline(lines, line);)
    if (parse_record(line, &r)) std::visit(reader, r);
  reader.finish();
  return result;
}

}  // namespace replay
