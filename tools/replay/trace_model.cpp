#include "trace_model.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace replay {
namespace {

// USER_HZ: the tick of every /proc counter, phones included.
constexpr double tick_ms = 10;

struct last_seen {
  size_t index;  // in the model's process list
  long long time_ms;
  long long own_ticks;
  long long children_ticks;  // reaped children's time (cutime + cstime)
  long long credited = 0;    // of that, burnt by children the trace showed
  int ppid = 0;
};

}  // namespace

bool load_trace(const std::string& path, trace_model* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (static_cast<long long>(text.size()) > max_trace_bytes) {
      *error = path + ": larger than " + std::to_string(max_trace_bytes >> 20) + " MiB";
      return false;
    }
  }
  return load_trace_text(text, path, out, error);
}

bool load_trace_text(const std::string& text, const std::string& name, trace_model* out, std::string* error) {
  trace_model m;
  std::string line;
  int number = 0;
  char message[trace::error_size];
  auto fail = [&](const std::string& what) {
    *error = name + ": " + what;
    return false;
  };
  auto fail_at = [&](const std::string& what) { return fail("line " + std::to_string(number) + ": " + what); };
  size_t at = 0;
  // One line without its newline; false at the end of the text.
  auto next_line = [&] {
    if (at >= text.size()) return false;
    const size_t end = std::min(text.find('\n', at), text.size());
    line.assign(text, at, end - at);
    at = end + 1;
    ++number;
    return true;
  };
  if (!next_line()) return fail("line 1: the file is empty");
  if (line.find('\0') != std::string::npos) return fail_at("holds a NUL byte");
  if (!trace::parse_header(line.c_str(), number, &m.header, message)) return fail(message);
  std::map<int, last_seen> alive;
  long long previous = 0;
  long long first_processes_ms = -1;  // the first process sample: what it shows was burnt before the trace
  trace::row r;
  while (next_line()) {
    if (line.empty() && at >= text.size()) break;  // a blank last line
    if (line.find('\0') != std::string::npos) return fail_at("holds a NUL byte");
    if (!trace::parse_row(line.c_str(), number, m.header, previous, &r, message)) return fail(message);
    // Bounded work, checked before anything starts.
    const long long time_ms = r.what == trace::kind::system    ? r.system.time_ms
                              : r.what == trace::kind::process ? r.process.time_ms
                                                               : r.ended.time_ms;
    if (time_ms > max_trace_ms)
      return fail_at("time " + std::to_string(time_ms) + " ms is past the longest trace a replay takes (" +
                     std::to_string(max_trace_ms / 60000) + " minutes)");
    if (time_ms - previous > max_row_gap_ms)
      return fail_at("time " + std::to_string(time_ms) + " ms is more than " + std::to_string(max_row_gap_ms / 1000) +
                     " s after the previous row's " + std::to_string(previous) +
                     " ms (a recorder writes a row at least once a minute)");
    if (r.what == trace::kind::system && m.samples.size() >= max_trace_samples)
      return fail_at("more than " + std::to_string(max_trace_samples) + " system samples");
    switch (r.what) {
      case trace::kind::system: {
        previous = r.system.time_ms;
        system_sample s;
        s.time_ms = r.system.time_ms;
        std::copy(std::begin(r.system.cpu), std::end(r.system.cpu), s.cpu);
        s.ctxt = r.system.ctxt;
        s.row = r.system;
        m.samples.push_back(s);
        break;
      }
      case trace::kind::process: {
        const trace::process_row& p = r.process;
        previous = p.time_ms;
        const long long own = p.utime + p.stime;
        auto it = alive.find(p.pid);
        // A pid seen again with less CPU time than before is a new process.
        if (it != alive.end() && own < it->second.own_ticks) {
          m.processes[it->second.index].end_ms = p.time_ms;
          alive.erase(it);
          it = alive.end();
        }
        if (it == alive.end()) {
          if (m.processes.size() >= max_trace_processes)
            return fail_at("more than " + std::to_string(max_trace_processes) + " processes");
          recorded_process q;
          q.pid = p.pid;
          q.ppid = p.ppid;
          q.comm = p.comm;
          q.cmdline = p.cmdline;
          q.nice = p.nice;
          q.policy = p.policy;
          q.start_ms = p.time_ms;
          if (first_processes_ms < 0) first_processes_ms = p.time_ms;
          // A process born during the trace burnt its time since the last process sample.
          const long long window = m.header.processes_every_ms;
          if (p.time_ms > first_processes_ms) q.start_ms = std::max(first_processes_ms, p.time_ms - window);
          if (p.time_ms > first_processes_ms && own > 0) {
            q.burns.push_back(
                {p.time_ms - window, p.time_ms, static_cast<double>(own) * tick_ms / static_cast<double>(window)});
            q.cpu_seconds += static_cast<double>(own) * tick_ms / 1000;
          }
          m.processes.push_back(q);
          alive[p.pid] = {m.processes.size() - 1, p.time_ms, own, p.cutime + p.cstime, 0, p.ppid};
          break;
        }
        recorded_process& q = m.processes[it->second.index];
        // Unchanged rows are not written, so what a row adds was burnt within
        // the last process period before it.
        const long long window = std::min<long long>(p.time_ms - it->second.time_ms, m.header.processes_every_ms);
        // Time of reaped children counts as the process's own, as calmd counts
        // it, less what the children's own stand-ins burnt.
        const long long reaped = p.cutime + p.cstime - it->second.children_ticks;
        const long long extra = std::max(0LL, reaped - it->second.credited);
        it->second.credited = std::max(0LL, it->second.credited - reaped);
        it->second.children_ticks = p.cutime + p.cstime;
        const long long ticks = own - it->second.own_ticks + extra;
        if (ticks > 0 && window > 0) {
          q.burns.push_back(
              {p.time_ms - window, p.time_ms, static_cast<double>(ticks) * tick_ms / static_cast<double>(window)});
          q.cpu_seconds += static_cast<double>(ticks) * tick_ms / 1000;
        }
        // Renamed or re-parented processes keep their stand-in; the latest name counts.
        q.comm = p.comm;
        q.cmdline = p.cmdline;
        q.ppid = p.ppid;
        it->second.ppid = p.ppid;
        it->second.time_ms = p.time_ms;
        it->second.own_ticks = own;
        break;
      }
      case trace::kind::ended: {
        previous = r.ended.time_ms;
        const auto it = alive.find(r.ended.pid);
        if (it != alive.end()) {
          // Its parent will show this time again once it has reaped it.
          const auto parent = alive.find(it->second.ppid);
          if (parent != alive.end()) parent->second.credited += it->second.own_ticks + it->second.children_ticks;
          m.processes[it->second.index].end_ms = r.ended.time_ms;
          alive.erase(it);
        }
        break;
      }
    }
  }
  if (m.samples.size() < 2) return fail_at("fewer than two system samples");
  m.duration_ms = previous;
  *out = std::move(m);
  return true;
}

void counters_at(const trace_model& m, double time_ms, unsigned long long (&cpu)[trace::cpu_counter_count],
                 unsigned long long* ctxt) {
  const auto& s = m.samples;
  auto after = std::upper_bound(s.begin(), s.end(), time_ms,
                                [](double t, const system_sample& x) { return t < static_cast<double>(x.time_ms); });
  if (after == s.begin() || after == s.end()) {
    const system_sample& x = after == s.begin() ? s.front() : s.back();
    std::copy(std::begin(x.cpu), std::end(x.cpu), cpu);
    *ctxt = x.ctxt;
    return;
  }
  const system_sample& a = *(after - 1);
  const system_sample& b = *after;
  const double span = static_cast<double>(b.time_ms - a.time_ms);
  const double f = span > 0 ? (time_ms - static_cast<double>(a.time_ms)) / span : 1;
  auto between = [f](unsigned long long x, unsigned long long y) {
    if (y <= x) return x;  // a counter that went back (wrapped) holds
    return x + static_cast<unsigned long long>(static_cast<double>(y - x) * f);
  };
  for (int i = 0; i < trace::cpu_counter_count; ++i) cpu[i] = between(a.cpu[i], b.cpu[i]);
  *ctxt = between(a.ctxt, b.ctxt);
}

const system_sample& sample_at(const trace_model& m, long long time_ms) {
  const auto& s = m.samples;
  auto after =
      std::upper_bound(s.begin(), s.end(), time_ms, [](long long t, const system_sample& x) { return t < x.time_ms; });
  return after == s.begin() ? s.front() : *(after - 1);
}

double share_at(const recorded_process& p, long long time_ms) {
  for (const burn& b : p.burns)
    if (time_ms >= b.from_ms && time_ms < b.to_ms) return b.share;
  return 0;
}

}  // namespace replay
