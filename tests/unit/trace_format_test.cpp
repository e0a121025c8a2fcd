#include "trace_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace trace;

std::string header_line() {
  char text[1024];
  header h = default_header();
  h.cpus = 8;
  h.ctxt_at = 2325;
  EXPECT_TRUE(format_header(h, text, sizeof text));
  std::string line = text;
  line.pop_back();  // the newline
  return line;
}

header parsed_header() {
  header h;
  char error[error_size];
  EXPECT_TRUE(parse_header(header_line().c_str(), 1, &h, error)) << error;
  return h;
}

std::string without_newline(const char* text) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

TEST(TraceFormat, RowsRoundTripWithHostileTexts) {
  const header h = parsed_header();
  EXPECT_EQ(8, h.cpus);
  EXPECT_EQ(2325, h.ctxt_at);
  system_row s;
  s.time_ms = 150;
  for (int i = 0; i < cpu_counter_count; ++i) s.cpu[i] = 18446744073709551615ull - static_cast<unsigned>(i);
  s.ctxt = 123456789012ull;
  strcpy(s.load[0], "12.50");
  strcpy(s.load[1], "0.00");
  strcpy(s.load[2], "3.07");
  s.runnable = 9;
  s.tasks = 1234;
  s.last_pid = 31999;
  s.has_gpu = true;
  s.gpu = 41;
  strcpy(s.focus, "com.evil\tapp\\n\x01");
  process_row p;
  p.time_ms = 150;
  p.pid = 4242;
  p.ppid = 1;
  strcpy(p.comm, "tab\there\nnl");
  strcpy(p.cmdline, "com.x:svc --flag  trailing ");
  p.utime = 7;
  p.stime = 8;
  p.cutime = 1125899906842624ll;
  p.cstime = 99999999999ll;
  p.nice = -20;
  p.policy = 5;
  char text[2048];
  row r;
  char error[error_size];
  ASSERT_GT(format_system_row(s, text, sizeof text), 0);
  ASSERT_TRUE(parse_row(without_newline(text).c_str(), 2, h, 0, &r, error)) << error;
  ASSERT_EQ(kind::system, r.what);
  EXPECT_EQ(0, memcmp(s.cpu, r.system.cpu, sizeof s.cpu));
  EXPECT_EQ(s.ctxt, r.system.ctxt);
  EXPECT_STREQ("12.50", r.system.load[0]);
  EXPECT_EQ(31999, r.system.last_pid);
  EXPECT_TRUE(r.system.has_gpu);
  EXPECT_FALSE(r.system.has_touch);
  EXPECT_STREQ(s.focus, r.system.focus);
  char again[2048];
  ASSERT_GT(format_system_row(r.system, again, sizeof again), 0);
  EXPECT_STREQ(text, again);  // every column back in its place
  ASSERT_GT(format_process_row(p, text, sizeof text), 0);
  EXPECT_EQ(nullptr, strchr(without_newline(text).c_str(), '\n'));
  ASSERT_TRUE(parse_row(without_newline(text).c_str(), 3, h, 150, &r, error)) << error;
  ASSERT_EQ(kind::process, r.what);
  EXPECT_STREQ(p.comm, r.process.comm);
  EXPECT_STREQ(p.cmdline, r.process.cmdline);
  EXPECT_EQ(p.cstime, r.process.cstime);
  EXPECT_EQ(-20, r.process.nice);
  ASSERT_GT(format_process_row(r.process, again, sizeof again), 0);
  EXPECT_STREQ(text, again);
  ASSERT_GT(format_ended_row({200, 4242}, text, sizeof text), 0);
  ASSERT_TRUE(parse_row(without_newline(text).c_str(), 4, h, 150, &r, error)) << error;
  EXPECT_EQ(kind::ended, r.what);
  EXPECT_EQ(4242, r.ended.pid);
}

TEST(TraceFormat, ColumnsAreFoundByNameAndUnknownOnesIgnored) {
  header h;
  char error[error_size];
  ASSERT_TRUE(
      parse_header("vmktrace 1 future=yes E=pid,time_ms,extra P=time_ms,pid,ppid,comm,cmdline,utime,"
                   "stime,cutime,cstime,nice,policy S=time_ms,user,nice,system,idle,iowait,irq,softirq,"
                   "steal,ctxt,load1,load5,load15,runnable,tasks,last_pid,gpu,touch,focus",
                   1, &h, error))
      << error;
  row r;
  ASSERT_TRUE(parse_row("E\t77\t500\tx", 2, h, 0, &r, error)) << error;
  EXPECT_EQ(500, r.ended.time_ms);
  EXPECT_EQ(77, r.ended.pid);
  EXPECT_EQ(8, h.cpus);  // the default when the header does not say
}

TEST(TraceFormat, MalformedTracesAreRefusedWithTheLineNumber) {
  struct {
    const char* header;
    const char* row;  // nullptr: the header itself is refused
    const char* error;
  } const cases[] = {
      {"vmktrace 2 S=time_ms", nullptr, "line 1: format version 2 is not supported (this reader knows version 1)"},
      {"trace 1", nullptr, "line 1: not a vmktrace header"},
      {"vmktrace one", nullptr, "line 1: the format version is not a number"},
      {"vmktrace 1 cpus=0", nullptr, "line 1: cpus is not a number from 1 to 1024"},
      {"vmktrace 1 S=time_ms,user", nullptr, "line 1: S rows lack the column \"nice\""},
      {"HEADER-NO-P", nullptr, "line 1: the header names no columns for P rows"},
      {nullptr, "S\t100\t1", "line 7: S row has 3 fields, the header names 20"},
      {nullptr, "X\t100", "line 7: unknown row kind"},
      {nullptr, "E\t99\t5", "line 7: time 99 ms goes back before the previous row's 100 ms"},
      {nullptr, "E\t-1\t5", "line 7: time_ms is not a number"},
      {nullptr, "E\t100\t0", "line 7: bad value in column \"pid\""},
      {nullptr, "P\t100\t5\t1\tsh\tsh\t1\t1\t1\t1\t20\t0", "line 7: bad value in column \"nice\""},
      {nullptr, "P\t100\t5\t1\tbad\\q\tsh\t1\t1\t1\t1\t0\t0", "line 7: bad value in column \"comm\""},
      {nullptr, "S\t100\t1\t2\t3\t4\t5\t6\t7\t8\t9\t1,5\t0.1\t0.1\t1\t2\t3\t\t\t",
       "line 7: bad value in column \"load1\""},
      // Only the writer's own spelling: one text, one row.
      {nullptr, "E\t0100\t5", "line 7: time_ms is not a number"},
      {nullptr, "P\t100\t5\t1\tsh\tsh\t1\t1\t1\t1\t-0\t0", "line 7: bad value in column \"nice\""},
      {nullptr, "P\t100\t5\t1\t\\x41\tsh\t1\t1\t1\t1\t0\t0", "line 7: bad value in column \"comm\""},
      {nullptr, "P\t100\t5\t1\t\\x09\tsh\t1\t1\t1\t1\t0\t0", "line 7: bad value in column \"comm\""},
      {nullptr, "P\t100\t5\t1\t\\x1B\tsh\t1\t1\t1\t1\t0\t0", "line 7: bad value in column \"comm\""},
      {nullptr, "P\t100\t5\t1\tsh\tsh\x01\t1\t1\t1\t1\t0\t0", "line 7: bad value in column \"cmdline\""},
  };
  const std::string good = header_line();
  const std::string no_p = good.substr(0, good.find(" P=")) + good.substr(good.find(" E="));
  for (const auto& c : cases) {
    char error[error_size] = "";
    header h;
    if (c.row == nullptr) {
      const std::string line = strcmp(c.header, "HEADER-NO-P") == 0 ? no_p : c.header;
      EXPECT_FALSE(parse_header(line.c_str(), 1, &h, error)) << c.header;
    } else {
      ASSERT_TRUE(parse_header(good.c_str(), 1, &h, error)) << error;
      row r;
      EXPECT_FALSE(parse_row(c.row, 7, h, 100, &r, error)) << c.row;
    }
    EXPECT_EQ(0u, std::string(error).find(c.error)) << error;
  }
}

// A row as the writer prints it, without its newline, with one column's text
// replaced (nullptr: none).
std::string written_row(kind what, const char* column, const char* text) {
  system_row s;
  s.time_ms = 100;
  strcpy(s.load[0], "0.50");
  strcpy(s.load[1], "0.40");
  strcpy(s.load[2], "0.30");
  process_row p;
  p.time_ms = 100;
  p.pid = 5;
  p.ppid = 1;
  strcpy(p.comm, "sh");
  strcpy(p.cmdline, "sh");
  char out[2048];
  const int n = what == kind::system    ? format_system_row(s, out, sizeof out)
                : what == kind::process ? format_process_row(p, out, sizeof out)
                                        : format_ended_row({100, 5}, out, sizeof out);
  EXPECT_GT(n, 0);
  const char* const* names = what == kind::system    ? system_columns
                             : what == kind::process ? process_columns
                                                     : ended_columns;
  const int count = what == kind::system    ? system_column_count
                    : what == kind::process ? process_column_count
                                            : ended_column_count;
  std::vector<std::string> fields;
  std::string line = without_newline(out);
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (column != nullptr) {
    int at = -1;
    for (int i = 0; i < count; ++i)
      if (strcmp(names[i], column) == 0) at = i + 1;
    EXPECT_GT(at, 0) << column;
    if (at > 0) fields[static_cast<size_t>(at)] = text;
  }
  line = fields[0];
  for (size_t i = 1; i < fields.size(); ++i) line += "\t" + fields[i];
  return line;
}

// Each column takes the writer's own spelling of its value within its bounds
// and nothing else; a refusal names the column.
TEST(TraceFormat, EachColumnTakesOnlyTheWritersSpellingWithinItsBounds) {
  const std::string comm_max(comm_size - 1, 'c'), comm_over(comm_size, 'c');
  const std::string cmdline_max(cmdline_size - 1, 'a'), cmdline_over(cmdline_size, 'a');
  const std::string focus_max(focus_size - 1, 'f'), focus_over(focus_size, 'f');
  struct {
    kind what;
    const char* column;
    const char* text;
    const char* error;  // nullptr: taken, and written back the same
  } const cases[] = {
      {kind::system, "time_ms", "", "time_ms is not a number"},
      {kind::system, "time_ms", "1125899906842625", "time_ms is not a number"},
      {kind::system, "time_ms", "1125899906842624", nullptr},
      {kind::system, "time_ms", "+100", "time_ms is not a number"},
      {kind::system, "user", "", "bad value in column \"user\""},
      {kind::system, "user", "01", "bad value in column \"user\""},
      {kind::system, "user", "-1", "bad value in column \"user\""},
      {kind::system, "user", "18446744073709551615", nullptr},
      {kind::system, "user", "18446744073709551616", "bad value in column \"user\""},
      {kind::system, "nice", "x", "bad value in column \"nice\""},
      {kind::system, "system", "1.5", "bad value in column \"system\""},
      {kind::system, "idle", " 1", "bad value in column \"idle\""},
      {kind::system, "iowait", "0x1", "bad value in column \"iowait\""},
      {kind::system, "irq", "+1", "bad value in column \"irq\""},
      {kind::system, "softirq", "99999999999999999999", "bad value in column \"softirq\""},
      {kind::system, "steal", "1e3", "bad value in column \"steal\""},
      {kind::system, "ctxt", "", "bad value in column \"ctxt\""},
      {kind::system, "ctxt", "0", nullptr},
      {kind::system, "load1", "1.", "bad value in column \"load1\""},
      {kind::system, "load5", ".5", "bad value in column \"load5\""},
      {kind::system, "load15", "1.2.3", "bad value in column \"load15\""},
      {kind::system, "load1", "", "bad value in column \"load1\""},
      {kind::system, "load1", "-1.00", "bad value in column \"load1\""},
      {kind::system, "load1", "7", nullptr},
      {kind::system, "load1", "012.50", nullptr},  // the kernel's text, kept as it is
      {kind::system, "load1", "12345678901.345", nullptr},
      {kind::system, "load1", "123456789012.456", "bad value in column \"load1\""},
      {kind::system, "runnable", "1073741824", nullptr},
      {kind::system, "runnable", "1073741825", "bad value in column \"runnable\""},
      {kind::system, "tasks", "-1", "bad value in column \"tasks\""},
      {kind::system, "last_pid", "", "bad value in column \"last_pid\""},
      {kind::system, "gpu", "-1000000", nullptr},
      {kind::system, "gpu", "1000001", "bad value in column \"gpu\""},
      {kind::system, "gpu", "05", "bad value in column \"gpu\""},
      {kind::system, "touch", "1", nullptr},
      {kind::system, "touch", "-0", "bad value in column \"touch\""},
      {kind::system, "touch", "x", "bad value in column \"touch\""},
      {kind::system, "focus", "com.x\\\\y\\x7f", nullptr},
      {kind::system, "focus", focus_max.c_str(), nullptr},
      {kind::system, "focus", focus_over.c_str(), "bad value in column \"focus\""},
      {kind::system, "focus", "a\\", "bad value in column \"focus\""},
      {kind::system, "focus", "\\x00", "bad value in column \"focus\""},
      {kind::system, "focus", "\\xff", "bad value in column \"focus\""},
      {kind::system, "focus", "\\x1", "bad value in column \"focus\""},
      {kind::system, "focus", "\\x5c", "bad value in column \"focus\""},
      {kind::system, "focus", "\\x0d", "bad value in column \"focus\""},
      {kind::system, "focus", "\\X1b", "bad value in column \"focus\""},
      {kind::system, "focus", "a\x7f", "bad value in column \"focus\""},
      {kind::process, "pid", "0", "bad value in column \"pid\""},
      {kind::process, "pid", "1", nullptr},
      {kind::process, "ppid", "-1", "bad value in column \"ppid\""},
      {kind::process, "ppid", "0", nullptr},
      {kind::process, "comm", "", nullptr},
      {kind::process, "comm", comm_max.c_str(), nullptr},
      {kind::process, "comm", comm_over.c_str(), "bad value in column \"comm\""},
      {kind::process, "cmdline", cmdline_max.c_str(), nullptr},
      {kind::process, "cmdline", cmdline_over.c_str(), "bad value in column \"cmdline\""},
      {kind::process, "cmdline", "\\q", "bad value in column \"cmdline\""},
      {kind::process, "utime", "1125899906842624", nullptr},
      {kind::process, "utime", "1125899906842625", "bad value in column \"utime\""},
      {kind::process, "stime", "-1", "bad value in column \"stime\""},
      {kind::process, "cutime", "x", "bad value in column \"cutime\""},
      {kind::process, "cstime", "", "bad value in column \"cstime\""},
      {kind::process, "nice", "-20", nullptr},
      {kind::process, "nice", "-21", "bad value in column \"nice\""},
      {kind::process, "nice", "19", nullptr},
      {kind::process, "policy", "7", nullptr},
      {kind::process, "policy", "8", "bad value in column \"policy\""},
      {kind::process, "policy", "", "bad value in column \"policy\""},
      {kind::ended, "time_ms", "1e3", "time_ms is not a number"},
      {kind::ended, "pid", "1073741824", nullptr},
      {kind::ended, "pid", "1073741825", "bad value in column \"pid\""},
      {kind::ended, "pid", "-5", "bad value in column \"pid\""},
  };
  const header h = parsed_header();
  for (const auto& c : cases) {
    const std::string line = written_row(c.what, c.column, c.text);
    row r;
    char error[error_size] = "";
    const bool taken = parse_row(line.c_str(), 7, h, 0, &r, error);
    if (c.error == nullptr) {
      ASSERT_TRUE(taken) << c.column << "=" << c.text << ": " << error;
      EXPECT_EQ(c.what, r.what);
      char out[2048];
      const int n = r.what == kind::system    ? format_system_row(r.system, out, sizeof out)
                    : r.what == kind::process ? format_process_row(r.process, out, sizeof out)
                                              : format_ended_row(r.ended, out, sizeof out);
      ASSERT_GT(n, 0);
      EXPECT_EQ(line, without_newline(out)) << c.column;
    } else {
      EXPECT_FALSE(taken) << c.column << "=" << c.text;
      EXPECT_EQ("line 7: " + std::string(c.error), error) << c.column << "=" << c.text;
    }
  }
}

TEST(TraceFormat, RowsOfTheWrongLengthOrKindAreRefused) {
  const std::string good_p = written_row(kind::process, nullptr, nullptr);
  struct {
    std::string row;
    const char* error;
  } const cases[] = {
      {"", "unknown row kind (rows start with S, P or E and a tab)"},
      {"S", "S row has 1 fields, the header names 20"},
      {"s\t100", "unknown row kind (rows start with S, P or E and a tab)"},
      {"SS\t100", "unknown row kind (rows start with S, P or E and a tab)"},
      {"E\t100", "E row has 2 fields, the header names 3"},
      {"E\t100\t5\t", "E row has 4 fields, the header names 3"},
      {good_p + "\t", "P row has 13 fields, the header names 12"},
      {std::string(60, '\t'), "unknown row kind (rows start with S, P or E and a tab)"},
      {"E" + std::string(60, '\t'), "E row has 61 fields, the header names 3"},
  };
  const header h = parsed_header();
  for (const auto& c : cases) {
    row r;
    char error[error_size] = "";
    EXPECT_FALSE(parse_row(c.row.c_str(), 9, h, 0, &r, error)) << c.row;
    EXPECT_EQ("line 9: " + std::string(c.error), error) << c.row;
  }
}

// With several bad values, the first in the writer's column order is named,
// wherever the header puts the columns.
TEST(TraceFormat, TheFirstBadColumnInTheWritersOrderIsNamed) {
  header h;
  char error[error_size];
  ASSERT_TRUE(
      parse_header("vmktrace 1 E=pid,time_ms P=policy,nice,cstime,cutime,stime,utime,cmdline,comm,ppid,pid,time_ms "
                   "S=focus,touch,gpu,last_pid,tasks,runnable,load15,load5,load1,ctxt,steal,softirq,irq,iowait,idle,"
                   "system,nice,user,time_ms",
                   1, &h, error))
      << error;
  struct {
    const char* row;
    const char* error;
  } const cases[] = {
      {"E\t0\tx", "time_ms is not a number"},
      {"E\t0\t100", "bad value in column \"pid\""},
      {"P\t9\t0\t1\t1\t1\t1\tsh\tsh\t1\t0\t100", "bad value in column \"pid\""},
      {"P\t9\t-30\tx\t1\t1\t1\tsh\tsh\t1\t5\t100", "bad value in column \"cstime\""},
      {"S\t\\q\tx\t\t1\t1\t1\t1.0\t1.0\t1.0\t1\t1\t1\t1\t1\t1\t1\t1\t01\t100", "bad value in column \"user\""},
      {"S\t\\q\tx\t\t1\t1\t1\t1.0\t1.0\t1.0\t1\t1\t1\t1\t1\t1\t1\t1\t1\t100", "bad value in column \"touch\""},
  };
  for (const auto& c : cases) {
    row r;
    char error_text[error_size] = "";
    EXPECT_FALSE(parse_row(c.row, 3, h, 0, &r, error_text)) << c.row;
    EXPECT_EQ("line 3: " + std::string(c.error), error_text) << c.row;
  }
}

}  // namespace
