#include "trace_rows.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <type_traits>

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
bool is_load_text(field f, size_t size) {
  if (f.length == 0 || f.length >= size) return false;
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

// How a column's text is read, and where its value goes in its kind's row.
enum class form {
  counter,           // any unsigned 64-bit number
  integer,           // an int from low to high
  long_integer,      // a long long from low to high
  optional_integer,  // empty, or an int from low to high; the flag says which
  load_average,      // the kernel's text of a load average, kept as it is
  text,              // an escaped text
};

struct column_reading {
  const char* name;
  form how;
  size_t at;  // offset of the value in the row
  long long low = 0, high = 0;
  size_t size = 0;  // load_average and text: the size of the buffer
  size_t flag = 0;  // optional_integer: offset of the flag that it is there
};

constexpr long long max_ms = 1ll << 50;   // times and CPU-time counters
constexpr long long max_count = 1 << 30;  // pids and task counts
constexpr long long max_gauge = 1000000;  // GPU busy and touch state

constexpr column_reading counter(const char* name, size_t at) { return {name, form::counter, at}; }
constexpr column_reading integer(const char* name, size_t at, long long low, long long high) {
  return {name, form::integer, at, low, high};
}
constexpr column_reading long_integer(const char* name, size_t at, long long low, long long high) {
  return {name, form::long_integer, at, low, high};
}
constexpr column_reading optional_integer(const char* name, size_t at, size_t flag, long long low, long long high) {
  return {name, form::optional_integer, at, low, high, 0, flag};
}
constexpr column_reading load_average(const char* name, size_t at) {
  return {name, form::load_average, at, 0, 0, load_text_size};
}
constexpr column_reading text(const char* name, size_t at, size_t size) { return {name, form::text, at, 0, 0, size}; }

// The values are copied to their offsets in the rows.
static_assert(std::is_standard_layout_v<system_row> && std::is_trivially_copyable_v<system_row> &&
              std::is_standard_layout_v<process_row> && std::is_trivially_copyable_v<process_row> &&
              std::is_standard_layout_v<ended_row> && std::is_trivially_copyable_v<ended_row>);

// The columns of each kind in the writer's order; a row's values are read in
// this order, so a refusal names the first bad one.
constexpr column_reading system_readings[] = {
    long_integer("time_ms", offsetof(system_row, time_ms), 0, max_ms),
    counter("user", offsetof(system_row, cpu[0])),
    counter("nice", offsetof(system_row, cpu[1])),
    counter("system", offsetof(system_row, cpu[2])),
    counter("idle", offsetof(system_row, cpu[3])),
    counter("iowait", offsetof(system_row, cpu[4])),
    counter("irq", offsetof(system_row, cpu[5])),
    counter("softirq", offsetof(system_row, cpu[6])),
    counter("steal", offsetof(system_row, cpu[7])),
    counter("ctxt", offsetof(system_row, ctxt)),
    load_average("load1", offsetof(system_row, load[0])),
    load_average("load5", offsetof(system_row, load[1])),
    load_average("load15", offsetof(system_row, load[2])),
    integer("runnable", offsetof(system_row, runnable), 0, max_count),
    integer("tasks", offsetof(system_row, tasks), 0, max_count),
    integer("last_pid", offsetof(system_row, last_pid), 0, max_count),
    optional_integer("gpu", offsetof(system_row, gpu), offsetof(system_row, has_gpu), -max_gauge, max_gauge),
    optional_integer("touch", offsetof(system_row, touch), offsetof(system_row, has_touch), -max_gauge, max_gauge),
    text("focus", offsetof(system_row, focus), focus_size),
};
constexpr column_reading process_readings[] = {
    long_integer("time_ms", offsetof(process_row, time_ms), 0, max_ms),
    integer("pid", offsetof(process_row, pid), 1, max_count),
    integer("ppid", offsetof(process_row, ppid), 0, max_count),
    text("comm", offsetof(process_row, comm), comm_size),
    text("cmdline", offsetof(process_row, cmdline), cmdline_size),
    long_integer("utime", offsetof(process_row, utime), 0, max_ms),
    long_integer("stime", offsetof(process_row, stime), 0, max_ms),
    long_integer("cutime", offsetof(process_row, cutime), 0, max_ms),
    long_integer("cstime", offsetof(process_row, cstime), 0, max_ms),
    integer("nice", offsetof(process_row, nice), -20, 19),
    integer("policy", offsetof(process_row, policy), 0, 7),
};
constexpr column_reading ended_readings[] = {
    long_integer("time_ms", offsetof(ended_row, time_ms), 0, max_ms),
    integer("pid", offsetof(ended_row, pid), 1, max_count),
};

// A table names the columns of its kind's list, in its order, beginning with the time.
template <size_t count>
constexpr bool follows(const column_reading (&readings)[count], const char* const (&names)[count]) {
  for (size_t i = 0; i < count; ++i)
    if (std::string_view(readings[i].name) != names[i]) return false;
  return std::string_view(names[0]) == "time_ms" && readings[0].how == form::long_integer;
}
static_assert(follows(system_readings, system_columns) && follows(process_readings, process_columns) &&
              follows(ended_readings, ended_columns));

// One column's value into the row; false when the text is not the writer's
// spelling of a value within the column's bounds.
bool read_column(const column_reading& c, field f, char* row) {
  char* to = row + c.at;
  switch (c.how) {
    case form::counter: {
      unsigned long long v = 0;
      if (!to_unsigned(f, &v)) return false;
      memcpy(to, &v, sizeof v);
      return true;
    }
    case form::long_integer: {
      long long v = 0;
      if (!to_signed(f, c.low, c.high, &v)) return false;
      memcpy(to, &v, sizeof v);
      return true;
    }
    case form::integer:
    case form::optional_integer: {
      const bool there = c.how == form::integer || f.length > 0;
      int v = 0;
      if (there && !to_int(f, static_cast<int>(c.low), static_cast<int>(c.high), &v)) return false;
      memcpy(to, &v, sizeof v);
      if (c.how == form::optional_integer) memcpy(row + c.flag, &there, sizeof there);
      return true;
    }
    case form::load_average:
      if (!is_load_text(f, c.size)) return false;
      memcpy(to, f.at, f.length);
      to[f.length] = '\0';
      return true;
    case form::text: return unescape_text(f.at, f.length, to, c.size);
  }
  return false;
}

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
  line_writer w{{out, size}};
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
  line_writer w{{out, size}};
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
  for (int value : {r.runnable, r.tasks, r.last_pid}) w.put_column(value);
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
  line_writer w{{out, size}};
  w.put("P\t");
  w.put_signed(r.time_ms);
  for (int value : {r.pid, r.ppid}) w.put_column(value);
  w.put_char('\t');
  w.put_escaped(r.comm);
  w.put_char('\t');
  w.put_escaped(r.cmdline);
  for (long long value : {r.utime, r.stime, r.cutime, r.cstime}) w.put_column(value);
  for (int value : {r.nice, r.policy}) w.put_column(value);
  w.put_char('\n');
  return w.finish();
}

int format_ended_row(const ended_row& r, char* out, size_t size) {
  line_writer w{{out, size}};
  w.put("E\t");
  w.put_signed(r.time_ms);
  w.put_column(r.pid);
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
  const struct {
    kind what;
    const column_reading* columns;
    int count;
    const int* at;
    int fields;
    char* row;
  } kinds[] = {
      {kind::system, system_readings, system_column_count, h.system_at, h.system_fields,
       reinterpret_cast<char*>(&out->system)},
      {kind::process, process_readings, process_column_count, h.process_at, h.process_fields,
       reinterpret_cast<char*>(&out->process)},
      {kind::ended, ended_readings, ended_column_count, h.ended_at, h.ended_fields,
       reinterpret_cast<char*>(&out->ended)},
  };
  const auto* k = kinds;
  while (k != std::end(kinds) && !same(f[0], kind_name(k->what))) ++k;
  if (k == std::end(kinds)) {
    say(error, line_number, "unknown row kind (rows start with S, P or E and a tab)");
    return false;
  }
  if (n != k->fields || n > max_fields) {
    char what[96];
    snprintf(what, sizeof what, "%s row has %i fields, the header names %i", kind_name(k->what), n, k->fields);
    say(error, line_number, what);
    return false;
  }
  out->what = k->what;
  // The time has its own refusals; the table then reads it again with the rest.
  long long time = 0;
  if (!to_signed(f[k->at[0]], k->columns[0].low, k->columns[0].high, &time)) {
    say(error, line_number, "time_ms is not a number");
    return false;
  }
  if (time < previous_time_ms) {
    char what[120];
    snprintf(what, sizeof what, "time %lli ms goes back before the previous row's %lli ms", time, previous_time_ms);
    say(error, line_number, what);
    return false;
  }
  if (k->what == kind::system) out->system = system_row{};
  if (k->what == kind::process) out->process = process_row{};
  if (k->what == kind::ended) out->ended = ended_row{};
  for (int i = 0; i < k->count; ++i) {
    if (read_column(k->columns[i], f[k->at[i]], k->row)) continue;
    char what[64];
    snprintf(what, sizeof what, "bad value in column \"%s\"", k->columns[i].name);
    say(error, line_number, what);
    return false;
  }
  return true;
}

}  // namespace trace
