#include "trace_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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
  ASSERT_GT(format_process_row(p, text, sizeof text), 0);
  EXPECT_EQ(nullptr, strchr(without_newline(text).c_str(), '\n'));
  ASSERT_TRUE(parse_row(without_newline(text).c_str(), 3, h, 150, &r, error)) << error;
  ASSERT_EQ(kind::process, r.what);
  EXPECT_STREQ(p.comm, r.process.comm);
  EXPECT_STREQ(p.cmdline, r.process.cmdline);
  EXPECT_EQ(p.cstime, r.process.cstime);
  EXPECT_EQ(-20, r.process.nice);
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

}  // namespace
