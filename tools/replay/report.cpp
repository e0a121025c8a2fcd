#include "report.h"

#include <sched.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>

#include "safe_text.h"
#include "sandbox.h"
#include "scheduling.h"

namespace replay {
namespace {

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
  va_list args, again;
  va_start(args, f);
  va_copy(again, args);
  const int length = vsnprintf(nullptr, 0, f, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  vsnprintf(text.data(), text.size() + 1, f, again);
  va_end(again);
  return text;
}

std::string seconds(double ms) { return format("%8.3f", ms / 1000); }

const char* short_group(int i) {
  static const char* names[] = {"top-app",   "restricted", "audio-app", "foreground",
                                "system-bg", "camera",     "background"};
  return names[i];
}

std::string inputs_text(const scaling_cycle_record& c) {
  return format("c=%3i g=%3i r=%2i w=%3i t=%i L=%5.2f p=%i", c.in.cpu_load, c.in.gpu_busy, c.in.runnable,
                c.in.iowait_delta, c.in.touch, static_cast<double>(c.in.load_avg), c.profile);
}

// The raw name: callers show it with shown() or json_string().
std::string process_name(const trace_model& m, int index, const std::string& fallback) {
  return index >= 0 ? m.processes[static_cast<size_t>(index)].comm : fallback;
}

}  // namespace

std::vector<size_t> busiest_processes(const trace_model& m, size_t count) {
  std::vector<size_t> order(m.processes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return m.processes[a].cpu_seconds > m.processes[b].cpu_seconds; });
  if (order.size() > count) order.resize(count);
  return order;
}

void write_report(std::ostream& out, const trace_model& m, const replay_result& r, const report_facts& facts,
                  bool full) {
  const double minutes = r.duration_ms / 60000;
  out << format("Replay of %s: %.1f s of trace, %zu system samples, %zu recorded processes\n",
                shown(facts.trace_path).c_str(), r.duration_ms / 1000, m.samples.size(), m.processes.size());
  out << format(
      "Recorded system: %i CPUs, ctxt at byte %i of /proc/stat%s. Replay: profile %i, dumpsys of Android %i.\n",
      m.header.cpus, m.header.ctxt_at,
      m.header.ctxt_at > 2048 ? " (past calmd's 2048-byte read: its context-switch delta is always 0)" : "",
      facts.profile, facts.android);

  out << "\n== fidelity ==\n";
  size_t started = 0, kept = 0;
  double recorded = 0, burnt = 0;
  for (size_t i = 0; i < m.processes.size(); ++i) {
    if (r.stand_in_pid[i] == 0) continue;
    ++started;
    kept += static_cast<size_t>(r.recorded_pid_kept[i]);
    recorded += m.processes[i].cpu_seconds;
    burnt += r.burnt_seconds[i];
  }
  out << format("  stand-ins: %zu of %zu recorded processes, %zu with their recorded pid\n", started,
                m.processes.size(), kept);
  out << format("  CPU the processes burnt: %.1f s recorded, %.1f s burnt by the stand-ins (%.0f%%)\n", recorded, burnt,
                recorded > 0 ? burnt * 100 / recorded : 100.0);
  double scaled_ms = 0, most = 0, least_factor = 1;
  for (size_t i = 0; i < r.burns.size(); ++i) {
    const auto& b = r.burns[i];
    most = std::max(most, b[1]);
    if (b[2] + 1e-6 < b[1]) {
      const double until = i + 1 < r.burns.size() ? r.burns[i + 1][0] : r.duration_ms;
      scaled_ms += until - b[0];
      least_factor = std::min(least_factor, b[1] > 0 ? b[2] / b[1] : 1);
    }
  }
  out << format("  load of the processes: up to %.2f cores asked at once; this machine gives them %.2f", most,
                facts.cores);
  if (scaled_ms > 0)
    out << format(", so it was scaled down (to %.0f%% at most) during %.1f s (%.0f%% of the trace)\n",
                  least_factor * 100, scaled_ms / 1000, scaled_ms * 100 / r.duration_ms);
  else
    out << ": not scaled\n";
  out << "  the fake /proc/stat, /proc/loadavg, GPU and touch files follow the recorded counters exactly\n"
         "  (rewritten every 10 ms, interpolated). A stand-in burns its process's time and that of its reaped\n"
         "  children not seen in the trace (as calmd counts them), at most one core; processes shorter than a\n"
         "  process sample, and real-time policies, are not reproduced.\n";

  out << "\n== vmkd: scaling cycles ==\n";
  std::map<int, int> bands;
  std::map<std::string, int> rules, tests;
  for (const scaling_cycle_record& c : r.cycles) {
    if (c.fixed) continue;
    ++bands[c.band];
    ++rules[rule_name(c.rule)];
    ++tests[c.reason.substr(0, c.reason.find_first_of("=<>"))];
  }
  out << format("  %zu cycles explained, %i disagree with what vmkd wrote, %i incomplete\n", r.cycles.size(),
                r.disagreements, r.incomplete_cycles);
  out << "  bands:";
  for (int band = 1; band <= 8; ++band) out << format(" %i:%i", band, bands[band]);
  out << "\n  rules:";
  for (const char* rule : {"band", "busy", "raise", "activity"}) out << " " << rule << ":" << rules[rule];
  out << "\n  tests:";
  for (const auto& [test, count] : tests) out << " [" << test << "] " << count;
  out << "\n";
  const size_t cycles_shown = full ? r.cycles.size() : std::min<size_t>(r.cycles.size(), 12);
  out << "  time s   inputs                                           band rule      top-app  p0 max  p4 max  reason\n";
  for (size_t i = 0; i < r.cycles.size(); ++i) {
    const scaling_cycle_record& c = r.cycles[i];
    if (i >= cycles_shown && c.agrees) continue;
    out << format("  %s %s  %i   %-9s %-7s %7i %7i  %s%s\n", seconds(c.end_ms).c_str(), inputs_text(c).c_str(), c.band,
                  c.fixed ? "fixed" : rule_name(c.rule), c.writes_expected ? c.cpus[0].c_str() : "-", c.policy0_max,
                  c.policy4_max, shown(c.reason).c_str(), c.agrees ? "" : "  DISAGREES");
    if (!c.agrees) out << "      what vmkd wrote differs: " << shown(c.disagreement) << "\n";
  }
  if (cycles_shown < r.cycles.size())
    out << format("  ... %zu more cycles in the full report\n", r.cycles.size() - cycles_shown);

  out << "\n== calmd: throttle passes ==\n";
  std::map<std::string, int> triggers;
  size_t changes = 0;
  for (const throttle_pass_record& p : r.passes) {
    ++triggers[p.trigger.substr(0, p.trigger.find(':'))];
    changes += p.changes.size() + p.parents.size();
  }
  out << format("  %zu passes explained, %zu changes, %i not what its table gives; started by:", r.passes.size(),
                changes, r.unexplained);
  for (const auto& [trigger, count] : triggers) out << " " << trigger << " " << count;
  out << "\n";
  const size_t passes_shown = full ? r.passes.size() : std::min<size_t>(r.passes.size(), 6);
  for (size_t i = 0; i < passes_shown; ++i) {
    const throttle_pass_record& p = r.passes[i];
    out << format("  %s pass (%s)\n", seconds(p.time_ms).c_str(), shown(p.trigger).c_str());
    for (const parent_push& q : p.parents)
      out << format("      %s (%i) pushed its parent %s (%i): nice %i -> %i; %s\n", shown(q.child).c_str(), q.child_pid,
                    shown(q.parent).c_str(), q.parent_pid, q.before, q.after, shown(q.why).c_str());
    for (const process_change& c : p.changes) {
      const std::string usage = c.usage >= 0 ? format("usage %3i", c.usage) : "usage   0";
      out << format("      %-16s %6i %s  nice %3i -> %3i  %-5s -> %-5s  %s\n",
                    shown(process_name(m, c.index, c.name), 16).c_str(), c.pid, usage.c_str(), c.nice_before,
                    c.nice_after, policy_name(c.policy_before), policy_name(c.policy_after), shown(c.why).c_str());
    }
  }
  if (passes_shown < r.passes.size())
    out << format("  ... %zu more passes in the full report\n", r.passes.size() - passes_shown);

  out << "\n== vmkd: nice applier (every 5 s, by name) ==\n";
  if (r.applier.empty()) out << "  no stand-in matches its rules\n";
  for (const applier_target& a : r.applier)
    out << format("  %-16s pid %6i  group %i: %-12s seen set %i times, first at %.1f s\n", shown(a.name, 16).c_str(),
                  r.stand_in_pid[static_cast<size_t>(a.index)], a.group, a.treatment.c_str(), a.times_set,
                  a.first_ms / 1000);

  out << "\n== busiest processes: nice/policy over the replay ==\n";
  for (size_t index : busiest_processes(m, 8)) {
    if (r.stand_in_pid[index] == 0) continue;
    std::string timeline;
    for (const scheduling_point& s : r.scheduling[index]) {
      if (!timeline.empty()) timeline += " > ";
      timeline += format("%i/%s", s.nice, policy_name(s.policy));
    }
    out << format("  %-16s %5.1f s recorded, %5.1f s burnt  %s\n", shown(m.processes[index].comm, 16).c_str(),
                  m.processes[index].cpu_seconds, r.burnt_seconds[index], timeline.c_str());
  }

  out << "\n== cost of the daemons over the replay ==\n";
  for (const daemon_cost& c : r.costs)
    out << format("  %-5s pid %-6i cpu %7.3f s  (%6.3f s per minute of trace)  VmHWM %5li KiB\n", c.role.c_str(), c.pid,
                  c.cpu_seconds, minutes > 0 ? c.cpu_seconds / minutes : 0, c.hwm_kib);
  if (!r.faults.empty()) {
    out << "\n== faults ==\n";
    for (const std::string& f : r.faults) out << "  " << shown(f) << "\n";
  }
}

void write_trace_events(std::ostream& out, const trace_model& m, const replay_result& r) {
  std::vector<std::string> events;
  auto meta = [&](int pid, int tid, const char* what, const std::string& name) {
    events.push_back(format("{\"name\":\"%s\",\"ph\":\"M\",\"pid\":%i,\"tid\":%i,\"args\":{\"name\":%s}}", what, pid,
                            tid, json_string(name).c_str()));
  };
  meta(1, 1, "process_name", "vmkd scaling");
  meta(1, 1, "thread_name", "cycles");
  meta(2, 1, "process_name", "calmd");
  meta(2, 1, "thread_name", "passes");
  meta(3, 1, "process_name", "processes (nice)");
  auto us = [](double ms) { return static_cast<long long>(ms * 1000); };
  for (const scaling_cycle_record& c : r.cycles) {
    events.push_back(
        format("{\"name\":\"inputs\",\"ph\":\"C\",\"ts\":%lli,\"pid\":1,\"tid\":1,\"args\":{\"c\":%i,"
               "\"g\":%i,\"r\":%i,\"w\":%i,\"t\":%i,\"L\":%.2f}}",
               us(c.end_ms), c.in.cpu_load, c.in.gpu_busy, c.in.runnable, c.in.iowait_delta, c.in.touch,
               static_cast<double>(c.in.load_avg)));
    events.push_back(format("{\"name\":\"band\",\"ph\":\"C\",\"ts\":%lli,\"pid\":1,\"tid\":1,\"args\":{\"band\":%i}}",
                            us(c.end_ms), c.band));
    const std::string reason = c.reason + (c.agrees ? "" : " | DISAGREES: " + c.disagreement);
    events.push_back(
        format("{\"name\":%s,\"cat\":\"scaling\",\"ph\":\"X\",\"ts\":%lli,\"dur\":%lli,\"pid\":1,"
               "\"tid\":1,\"args\":{\"reason\":%s,\"band\":%i}}",
               json_string(c.fixed ? "fixed" : rule_name(c.rule)).c_str(), us(c.start_ms),
               std::max(1LL, us(c.end_ms) - us(c.start_ms)), json_string(reason).c_str(), c.band));
    events.push_back(
        format("{\"name\":%s,\"cat\":\"decision\",\"ph\":\"i\",\"s\":\"p\",\"ts\":%lli,\"pid\":1,"
               "\"tid\":1,\"args\":{\"rule\":%s}}",
               json_string(reason).c_str(), us(c.end_ms), json_string(c.fixed ? "fixed" : rule_name(c.rule)).c_str()));
    if (!c.wrote) continue;
    std::string cpus;
    for (int i = 0; i < cpuset_group_count; ++i)
      cpus += format("%s\"%s\":%i", i ? "," : "", short_group(i), cpus_in_list(c.cpus[static_cast<size_t>(i)]));
    events.push_back(format("{\"name\":\"CPUs allowed\",\"ph\":\"C\",\"ts\":%lli,\"pid\":1,\"tid\":1,\"args\":{%s}}",
                            us(c.end_ms), cpus.c_str()));
    events.push_back(
        format("{\"name\":\"frequency limits kHz\",\"ph\":\"C\",\"ts\":%lli,\"pid\":1,\"tid\":1,"
               "\"args\":{\"policy0 max\":%i,\"policy4 max\":%i}}",
               us(c.end_ms), c.policy0_max, c.policy4_max));
  }
  for (const throttle_pass_record& p : r.passes) {
    events.push_back(
        format("{\"name\":%s,\"cat\":\"pass\",\"ph\":\"i\",\"s\":\"p\",\"ts\":%lli,\"pid\":2,\"tid\":1,"
               "\"args\":{\"ctxt\":%i,\"nr\":%i}}",
               json_string("pass: " + p.trigger).c_str(), us(p.time_ms), p.ctxt, p.nr));
    for (const process_change& c : p.changes)
      events.push_back(
          format("{\"name\":%s,\"cat\":\"decision\",\"ph\":\"i\",\"s\":\"p\",\"ts\":%lli,\"pid\":2,"
                 "\"tid\":1,\"args\":{\"pid\":%i,\"usage\":%i,\"nice\":\"%i > %i\",\"policy\":\"%s > %s\","
                 "\"why\":%s}}",
                 json_string(process_name(m, c.index, c.name) + ": nice " + std::to_string(c.nice_before) + " > " +
                             std::to_string(c.nice_after))
                     .c_str(),
                 us(p.time_ms), c.pid, c.usage, c.nice_before, c.nice_after, policy_name(c.policy_before),
                 policy_name(c.policy_after), json_string(c.why).c_str()));
    for (const parent_push& q : p.parents)
      events.push_back(format(
          "{\"name\":%s,\"cat\":\"decision\",\"ph\":\"i\",\"s\":\"p\",\"ts\":%lli,\"pid\":2,"
          "\"tid\":1,\"args\":{\"why\":%s}}",
          json_string("parent " + q.parent + ": nice " + std::to_string(q.before) + " > " + std::to_string(q.after))
              .c_str(),
          us(p.time_ms), json_string(q.why).c_str()));
  }
  for (size_t index : busiest_processes(m, 8))
    for (const scheduling_point& s : r.scheduling[index])
      events.push_back(
          format("{\"name\":%s,\"ph\":\"C\",\"ts\":%lli,\"pid\":3,\"tid\":1,\"args\":{\"nice\":%i,"
                 "\"policy\":%i}}",
                 json_string(m.processes[index].comm + " (" + std::to_string(m.processes[index].pid) + ")").c_str(),
                 us(s.time_ms), s.nice, s.policy));
  for (const auto& [time_ms, focus] : r.focus)
    events.push_back(format("{\"name\":%s,\"cat\":\"focus\",\"ph\":\"i\",\"s\":\"g\",\"ts\":%lli,\"pid\":2,\"tid\":1}",
                            json_string("focus: " + (focus.empty() ? std::string("(none)") : focus)).c_str(),
                            us(time_ms)));
  out << "{\"traceEvents\":[\n";
  for (size_t i = 0; i < events.size(); ++i) out << events[i] << (i + 1 < events.size() ? ",\n" : "\n");
  out << "],\"displayTimeUnit\":\"ms\"}\n";
}

bool draw_timeline(const std::string& dir, const trace_model& m, const replay_result& r, std::string* error) {
  // gnuplot runs in the output folder and reads files of fixed names there:
  // no path or name from the trace or the command line is in its script.
  {
    std::ofstream data(dir + "/cycles.dat");
    data << "# time_s c g r w t L band rule(0 band,1 busy,2 raise,3 activity) "
            "top-app restricted audio-app foreground system-bg camera background policy0_max_MHz policy4_max_MHz\n";
    for (const scaling_cycle_record& c : r.cycles) {
      if (!c.wrote) continue;
      data << format("%.3f %i %i %i %i %i %.2f %i %i", c.end_ms / 1000, c.in.cpu_load, c.in.gpu_busy, c.in.runnable,
                     c.in.iowait_delta, c.in.touch, static_cast<double>(c.in.load_avg), c.band,
                     static_cast<int>(c.rule));
      for (const std::string& list : c.cpus) data << " " << cpus_in_list(list);
      data << format(" %.1f %.1f\n", c.policy0_max / 1000.0, c.policy4_max / 1000.0);
    }
  }
  const std::vector<size_t> busiest = busiest_processes(m, 5);
  std::string nice_plot;
  for (size_t k = 0; k < busiest.size(); ++k) {
    const size_t index = busiest[k];
    const std::string file = format("process%zu.dat", k);
    std::ofstream data(dir + "/process" + std::to_string(k) + ".dat");
    int last_nice = m.processes[index].nice, last_policy = m.processes[index].policy;
    for (const scheduling_point& s : r.scheduling[index]) {
      data << format("%.3f %i %i\n", s.time_ms / 1000, s.nice, s.policy);
      last_nice = s.nice;
      last_policy = s.policy;
    }
    data << format("%.3f %i %i\n", r.duration_ms / 1000, last_nice, last_policy);
    nice_plot += format("%s'%s' using 1:2 with steps lw 2 title \"%s (%i)\"", k ? ", " : "", file.c_str(),
                        gnuplot_title(m.processes[index].comm).c_str(), m.processes[index].pid);
  }
  std::ofstream script(dir + "/timeline.gp");
  const double end = r.duration_ms / 1000;
  const std::string body = R"GP(set datafile commentschars "#"
set multiplot layout 5,1 margins 0.07,0.86,0.05,0.96 spacing 0,0.035
set xrange [0:@END@]
set grid
set key outside right top font ",9"
set format x ""
set title "inputs of each scaling cycle" offset 0,-0.8
set ylabel "percent"
set y2label "r, w, L"
set ytics nomirror
set y2tics
set yrange [0:105]
plot 'CYC' using 1:2 with steps lw 2 title "c CPU load", '' using 1:3 with steps title "g GPU busy", '' using 1:($6*100) with steps title "t touch x100", '' using 1:4 axes x1y2 with steps title "r runnable", '' using 1:($5>50?50:$5) axes x1y2 with steps title "w iowait ticks (cut at 50)", '' using 1:7 axes x1y2 with lines lw 2 title "L load average"
unset y2tics
unset y2label
set title "band (from c) and rule"
set ylabel "band"
set yrange [0.5:8.5]
set ytics 1
plot 'CYC' using 1:8 with steps lw 2 title "band", '' using 1:($9==1?8.3:1/0) with points pt 7 ps 0.4 title "busy", '' using 1:($9==2?7.9:1/0) with points pt 5 ps 0.4 title "raise", '' using 1:($9==3?7.5:1/0) with points pt 9 ps 0.4 title "activity"
set title "CPUs allowed per cpuset group"
set ylabel "CPUs"
set yrange [0:8.5]
groups = "top-app restricted audio-app foreground system-bg camera background"
plot for [k=10:16] 'CYC' using 1:(column(k)+(k-13)*0.06) with steps lw 2 title word(groups, k-9)
set title "frequency limits"
set ylabel "MHz"
set autoscale y
set ytics autofreq
plot 'CYC' using 1:17 with steps lw 2 title "policy0 max", '' using 1:18 with steps lw 2 title "policy4 max"
set title "nice of the busiest processes (calmd, nice applier)"
set ylabel "nice"
set yrange [-21:20]
set format x "%g"
set xlabel "seconds of trace"
plot @NICE@
unset multiplot
)GP";
  std::string text = body;
  text.replace(text.find("@END@"), 5, format("%.3f", end));
  text.replace(text.find("@NICE@"), 6, nice_plot.empty() ? "0 notitle" : nice_plot);
  for (size_t at; (at = text.find("'CYC'")) != std::string::npos;) text.replace(at, 5, "'cycles.dat'");
  script << "set terminal pngcairo size 1400,1500 noenhanced font \",10\"\nset output 'timeline.png'\n"
         << text << "set terminal svg size 1400,1500 dynamic noenhanced font \"sans,10\"\nset output 'timeline.svg'\n"
         << text;
  script.close();
  const sandbox::command_result run = sandbox::run_command_in(dir, "gnuplot", {"gnuplot", "timeline.gp"}, 120000);
  std::ofstream(dir + "/gnuplot.log") << run.out << run.err;
  if (run.status != 0) {
    *error = "gnuplot failed (see " + shown(dir) + "/gnuplot.log)";
    return false;
  }
  return true;
}

}  // namespace replay
