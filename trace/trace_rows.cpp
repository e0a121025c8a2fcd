#include "trace_rows.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "trace_text.h"

namespace trace {
namespace {

constexpr int max_fields = 40;

void say(char* error, int line_number, const char* what) {
  snprintf(error, error_size, "line %i: %s", line_number, what);
}

bool same(field f, const char* text) { return strlen(text) == f.length && memcmp(f.at, text, f.length) == 0; }

int split(const char* line, char separator, field* fields, int capacity) {
  int n = 0;
  const char* start = line;
  for (const char* p = line;; ++p) {
    if (*p == separator || *p == '\0') {
      if (n < capacity) fields[n] = {start, static_cast<size_t>(p - start)};
      ++n;
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  return n;
}

// A load average as the kernel prints it: digits, a point, digits.
bool is_load_text(field f) {
  if (f.length == 0 || f.length >= load_text_size) return false;
  int points = 0;
  for (size_t i = 0; i < f.length; ++i) {
    if (f.at[i] == '.') {
      if (++points > 1 || i == 0 || i + 1 == f.length) return false;
    } else if (f.at[i] < '0' || f.at[i] > '9') {
      return false;
    }
  }
  return true;
}

bool columns_of(field list, const char* const* names, int count, int* at, int* fields) {
  char text[512];
  if (list.length >= sizeof text) return false;
  memcpy(text, list.at, list.length);
  text[list.length] = '\0';
  field columns[max_columns];
  const int listed = split(text, ',', columns, max_columns);
  if (listed > max_columns) return false;
  bool all = true;
  for (int k = 0; k < count; ++k) {
    at[k] = 0;
    for (int i = 0; i < listed; ++i)
      if (same(columns[i], names[k])) at[k] = i + 1;
    all = all && at[k] != 0;
  }
  *fields = listed + 1;
  return all;
}

// A column's place in its kind's list, found by name when compiled, so that
// the reading of a row follows the lists.
template <size_t count>
constexpr int place(const char* const (&names)[count], const char* name) {
  for (size_t i = 0; i < count; ++i)
    if (std::string_view(names[i]) == name) return static_cast<int>(i);
  return -1;
}
constexpr int s_user = place(system_columns, "user"), s_ctxt = place(system_columns, "ctxt"),
              s_load1 = place(system_columns, "load1"), s_runnable = place(system_columns, "runnable"),
              s_tasks = place(system_columns, "tasks"), s_last_pid = place(system_columns, "last_pid"),
              s_gpu = place(system_columns, "gpu"), s_touch = place(system_columns, "touch"),
              s_focus = place(system_columns, "focus");
constexpr int p_pid = place(process_columns, "pid"), p_ppid = place(process_columns, "ppid"),
              p_comm = place(process_columns, "comm"), p_cmdline = place(process_columns, "cmdline"),
              p_utime = place(process_columns, "utime"), p_nice = place(process_columns, "nice"),
              p_policy = place(process_columns, "policy");
constexpr int e_pid = place(ended_columns, "pid");
// Every kind's rows begin with their time.
static_assert(place(system_columns, "time_ms") == 0 && place(process_columns, "time_ms") == 0 &&
              place(ended_columns, "time_ms") == 0);
// The counters and the load averages are read as runs of neighbouring columns.
static_assert(s_user > 0 && place(system_columns, "steal") == s_user + cpu_counter_count - 1);
static_assert(s_load1 > 0 && place(system_columns, "load15") == s_load1 + 2);
static_assert(p_utime > 0 && place(process_columns, "cstime") == p_utime + 3);
static_assert(s_ctxt > 0 && s_runnable > 0 && s_tasks > 0 && s_last_pid > 0 && s_gpu > 0 && s_touch > 0 &&
              s_focus > 0 && p_pid > 0 && p_ppid > 0 && p_comm > 0 && p_cmdline > 0 && p_nice > 0 && p_policy > 0 &&
              e_pid > 0);

const char* kind_name(kind k) { return k == kind::system ? "S" : k == kind::process ? "P" : "E"; }

}  // namespace

header default_header() {
  header h;
  for (int i = 0; i < system_column_count; ++i) h.system_at[i] = i + 1;
  for (int i = 0; i < process_column_count; ++i) h.process_at[i] = i + 1;
  for (int i = 0; i < ended_column_count; ++i) h.ended_at[i] = i + 1;
  h.system_fields = system_column_count + 1;
  h.process_fields = process_column_count + 1;
  h.ended_fields = ended_column_count + 1;
  return h;
}

bool format_header(const header& h, char* out, size_t size) {
  line_writer w{out, size};
  w.put("vmktrace ");
  w.put_signed(h.version);
  const struct {
    const char* key;
    int value;
  } facts[] = {{" cpus=", h.cpus},
               {" ctxt_at=", h.ctxt_at},
               {" period_ms=", h.period_ms},
               {" processes_every_ms=", h.processes_every_ms}};
  for (const auto& f : facts) {
    w.put(f.key);
    w.put_signed(f.value);
  }
  const struct {
    const char* kind;
    const char* const* names;
    int count;
  } lists[] = {{" S=", system_columns, system_column_count},
               {" P=", process_columns, process_column_count},
               {" E=", ended_columns, ended_column_count}};
  for (const auto& l : lists) {
    w.put(l.kind);
    for (int i = 0; i < l.count; ++i) {
      if (i > 0) w.put_char(',');
      w.put(l.names[i]);
    }
  }
  w.put_char('\n');
  return w.finish() >= 0;
}

int format_system_row(const system_row& r, char* out, size_t size) {
  line_writer w{out, size};
  w.put("S\t");
  w.put_signed(r.time_ms);
  for (unsigned long long counter : r.cpu) {
    w.put_char('\t');
    w.put_unsigned(counter);
  }
  w.put_char('\t');
  w.put_unsigned(r.ctxt);
  for (const char* load : r.load) {
    w.put_char('\t');
    w.put(load);
  }
  for (int value : {r.runnable, r.tasks, r.last_pid}) {
    w.put_char('\t');
    w.put_signed(value);
  }
  w.put_char('\t');
  if (r.has_gpu) w.put_signed(r.gpu);
  w.put_char('\t');
  if (r.has_touch) w.put_signed(r.touch);
  w.put_char('\t');
  w.put_escaped(r.focus);
  w.put_char('\n');
  return w.finish();
}

int format_process_row(const process_row& r, char* out, size_t size) {
  line_writer w{out, size};
  w.put("P\t");
  w.put_signed(r.time_ms);
  for (int value : {r.pid, r.ppid}) {
    w.put_char('\t');
    w.put_signed(value);
  }
  w.put_char('\t');
  w.put_escaped(r.comm);
  w.put_char('\t');
  w.put_escaped(r.cmdline);
  for (long long value : {r.utime, r.stime, r.cutime, r.cstime}) {
    w.put_char('\t');
    w.put_signed(value);
  }
  for (int value : {r.nice, r.policy}) {
    w.put_char('\t');
    w.put_signed(value);
  }
  w.put_char('\n');
  return w.finish();
}

int format_ended_row(const ended_row& r, char* out, size_t size) {
  line_writer w{out, size};
  w.put("E\t");
  w.put_signed(r.time_ms);
  w.put_char('\t');
  w.put_signed(r.pid);
  w.put_char('\n');
  return w.finish();
}

bool parse_header(const char* line, int line_number, header* out, char* error) {
  field tokens[max_fields];
  const int n = split(line, ' ', tokens, max_fields);
  if (n < 2 || !same(tokens[0], "vmktrace")) {
    say(error, line_number, "not a vmktrace header (it starts with \"vmktrace <version>\")");
    return false;
  }
  header h;
  if (!to_int(tokens[1], 0, 1000000, &h.version)) {
    say(error, line_number, "the format version is not a number");
    return false;
  }
  if (h.version != format_version) {
    char what[96];
    snprintf(what, sizeof what, "format version %i is not supported (this reader knows version %i)", h.version,
             format_version);
    say(error, line_number, what);
    return false;
  }
  bool have[3] = {};
  for (int i = 2; i < n && i < max_fields; ++i) {
    const field t = tokens[i];
    const char* equals = static_cast<const char*>(memchr(t.at, '=', t.length));
    if (equals == nullptr) continue;
    const field key = {t.at, static_cast<size_t>(equals - t.at)};
    const field value = {equals + 1, t.length - key.length - 1};
    const struct {
      const char* name;
      int* target;
      int low, high;
    } numbers[] = {{"cpus", &h.cpus, 1, 1024},
                   {"ctxt_at", &h.ctxt_at, 0, 8000},
                   {"period_ms", &h.period_ms, 1, 3600000},
                   {"processes_every_ms", &h.processes_every_ms, 1, 3600000}};
    bool known = false;
    for (const auto& number : numbers) {
      if (!same(key, number.name)) continue;
      known = true;
      if (!to_int(value, number.low, number.high, number.target)) {
        char what[96];
        snprintf(what, sizeof what, "%s is not a number from %i to %i", number.name, number.low, number.high);
        say(error, line_number, what);
        return false;
      }
    }
    if (known) continue;
    const struct {
      const char* name;
      const char* const* columns;
      int count;
      int* at;
      int* fields;
      int index;
    } lists[] = {{"S", system_columns, system_column_count, h.system_at, &h.system_fields, 0},
                 {"P", process_columns, process_column_count, h.process_at, &h.process_fields, 1},
                 {"E", ended_columns, ended_column_count, h.ended_at, &h.ended_fields, 2}};
    for (const auto& l : lists) {
      if (!same(key, l.name)) continue;
      if (!columns_of(value, l.columns, l.count, l.at, l.fields)) {
        for (int k = 0; k < l.count; ++k) {
          if (l.at[k] != 0) continue;
          char what[96];
          snprintf(what, sizeof what, "%s rows lack the column \"%s\"", l.name, l.columns[k]);
          say(error, line_number, what);
          return false;
        }
      }
      have[l.index] = true;
    }
  }
  for (int k = 0; k < 3; ++k) {
    if (have[k]) continue;
    char what[64];
    snprintf(what, sizeof what, "the header names no columns for %s rows", kind_name(static_cast<kind>(k)));
    say(error, line_number, what);
    return false;
  }
  *out = h;
  return true;
}

bool parse_row(const char* line, int line_number, const header& h, long long previous_time_ms, row* out, char* error) {
  field f[max_fields];
  const int n = split(line, '\t', f, max_fields);
  kind k;
  int expected;
  if (same(f[0], "S")) {
    k = kind::system;
    expected = h.system_fields;
  } else if (same(f[0], "P")) {
    k = kind::process;
    expected = h.process_fields;
  } else if (same(f[0], "E")) {
    k = kind::ended;
    expected = h.ended_fields;
  } else {
    say(error, line_number, "unknown row kind (rows start with S, P or E and a tab)");
    return false;
  }
  if (n != expected || n > max_fields) {
    char what[96];
    snprintf(what, sizeof what, "%s row has %i fields, the header names %i", kind_name(k), n, expected);
    say(error, line_number, what);
    return false;
  }
  const char* bad = nullptr;
  auto column = [&](const int* at, int index) { return f[at[index]]; };
  out->what = k;
  long long time = 0;
  const int* time_at = k == kind::system ? h.system_at : k == kind::process ? h.process_at : h.ended_at;
  if (!to_signed(column(time_at, 0), 0, 1ll << 50, &time)) {
    say(error, line_number, "time_ms is not a number");
    return false;
  }
  if (time < previous_time_ms) {
    char what[120];
    snprintf(what, sizeof what, "time %lli ms goes back before the previous row's %lli ms", time, previous_time_ms);
    say(error, line_number, what);
    return false;
  }
  if (k == kind::system) {
    system_row& r = out->system;
    r = system_row{};
    r.time_ms = time;
    for (int i = 0; i < cpu_counter_count && bad == nullptr; ++i)
      if (!to_unsigned(column(h.system_at, s_user + i), &r.cpu[i])) bad = system_columns[s_user + i];
    if (bad == nullptr && !to_unsigned(column(h.system_at, s_ctxt), &r.ctxt)) bad = "ctxt";
    for (int i = 0; i < 3 && bad == nullptr; ++i) {
      const field load = column(h.system_at, s_load1 + i);
      if (!is_load_text(load)) {
        bad = system_columns[s_load1 + i];
      } else {
        memcpy(r.load[i], load.at, load.length);
        r.load[i][load.length] = '\0';
      }
    }
    if (bad == nullptr && !to_int(column(h.system_at, s_runnable), 0, 1 << 30, &r.runnable)) bad = "runnable";
    if (bad == nullptr && !to_int(column(h.system_at, s_tasks), 0, 1 << 30, &r.tasks)) bad = "tasks";
    if (bad == nullptr && !to_int(column(h.system_at, s_last_pid), 0, 1 << 30, &r.last_pid)) bad = "last_pid";
    const field gpu = column(h.system_at, s_gpu), touch = column(h.system_at, s_touch);
    r.has_gpu = gpu.length > 0;
    r.has_touch = touch.length > 0;
    if (bad == nullptr && r.has_gpu && !to_int(gpu, -1000000, 1000000, &r.gpu)) bad = "gpu";
    if (bad == nullptr && r.has_touch && !to_int(touch, -1000000, 1000000, &r.touch)) bad = "touch";
    const field focus = column(h.system_at, s_focus);
    if (bad == nullptr && !unescape_text(focus.at, focus.length, r.focus, sizeof r.focus)) bad = "focus";
  } else if (k == kind::process) {
    process_row& r = out->process;
    r = process_row{};
    r.time_ms = time;
    long long v = 0;
    if (!to_int(column(h.process_at, p_pid), 1, 1 << 30, &r.pid)) bad = "pid";
    if (bad == nullptr && !to_int(column(h.process_at, p_ppid), 0, 1 << 30, &r.ppid)) bad = "ppid";
    const field comm = column(h.process_at, p_comm), cmdline = column(h.process_at, p_cmdline);
    if (bad == nullptr && !unescape_text(comm.at, comm.length, r.comm, sizeof r.comm)) bad = "comm";
    if (bad == nullptr && !unescape_text(cmdline.at, cmdline.length, r.cmdline, sizeof r.cmdline)) bad = "cmdline";
    long long* counters[] = {&r.utime, &r.stime, &r.cutime, &r.cstime};
    for (int i = 0; i < 4 && bad == nullptr; ++i) {
      if (!to_signed(column(h.process_at, p_utime + i), 0, 1ll << 50, &v)) bad = process_columns[p_utime + i];
      *counters[i] = v;
    }
    if (bad == nullptr && !to_int(column(h.process_at, p_nice), -20, 19, &r.nice)) bad = "nice";
    if (bad == nullptr && !to_int(column(h.process_at, p_policy), 0, 7, &r.policy)) bad = "policy";
  } else {
    out->ended.time_ms = time;
    if (!to_int(column(h.ended_at, e_pid), 1, 1 << 30, &out->ended.pid)) bad = "pid";
  }
  if (bad != nullptr) {
    char what[64];
    snprintf(what, sizeof what, "bad value in column \"%s\"", bad);
    say(error, line_number, what);
    return false;
  }
  return true;
}

}  // namespace trace
