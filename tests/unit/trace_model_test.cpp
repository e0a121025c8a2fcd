#include "trace_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// The reader is strict (one spelling per text); the traces this project
// ships were all written by its writer.
TEST(TraceModel, BundledTracesLoad) {
  for (const char* name : {"generated", "idle", "build", "file-io"}) {
    replay::trace_model m;
    std::string error;
    EXPECT_TRUE(replay::load_trace(std::string(TRACES_DIR "/") + name + ".txt", &m, &error)) << error;
    EXPECT_GT(m.duration_ms, 1000) << name;
  }
}

}  // namespace

namespace {

using replay::load_trace_text;
using replay::trace_model;

constexpr const char* header_line =
    "vmktrace 1 cpus=8 ctxt_at=2325 period_ms=50 processes_every_ms=1000 "
    "S=time_ms,user,nice,system,idle,iowait,irq,softirq,steal,ctxt,load1,load5,load15,runnable,tasks,last_pid,gpu,"
    "touch,focus P=time_ms,pid,ppid,comm,cmdline,utime,stime,cutime,cstime,nice,policy E=time_ms,pid\n";

std::string sample(long long time_ms) {
  return "S\t" + std::to_string(time_ms) + "\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0.00\t0.00\t0.00\t1\t100\t200\t\t\t\n";
}

// A process row with its own time as utime and its reaped children's as cutime.
std::string process(long long time_ms, int pid, int ppid, long long own, long long children = 0) {
  return "P\t" + std::to_string(time_ms) + "\t" + std::to_string(pid) + "\t" + std::to_string(ppid) + "\tp\tp \t" +
         std::to_string(own) + "\t0\t" + std::to_string(children) + "\t0\t0\t0\n";
}

std::string ended(long long time_ms, int pid) {
  return "E\t" + std::to_string(time_ms) + "\t" + std::to_string(pid) + "\n";
}

// What each process burnt, and when, from the rows that show its counters
// (ticks of 10 ms, process samples every second).
TEST(TraceModel, ProcessTimeIsPlacedInTheSampleBeforeTheRowThatShowsIt) {
  struct life {
    long long start_ms, end_ms;
    double cpu_seconds;
    std::vector<std::pair<long long, long long>> burns;  // from, to
  };
  const struct {
    const char* name;
    std::string rows;
    std::vector<life> processes;
  } cases[] = {
      {"burnt before the trace", process(0, 10, 1, 500), {{0, -1, 0, {}}}},
      {"between two rows", process(0, 10, 1, 0) + process(1000, 10, 1, 50), {{0, -1, 0.5, {{0, 1000}}}}},
      // Unchanged rows are not written: the time is the last period's.
      {"rows 3 s apart", process(0, 10, 1, 0) + process(3000, 10, 1, 50), {{0, -1, 0.5, {{2000, 3000}}}}},
      {"born during the trace",
       process(0, 10, 1, 0) + process(2000, 11, 10, 30),
       {{0, -1, 0, {}}, {1000, -1, 0.3, {{1000, 2000}}}}},
      {"a pid reused",
       process(0, 10, 1, 100) + process(1000, 10, 1, 20),
       {{0, 1000, 0, {}}, {0, -1, 0.2, {{0, 1000}}}}},
      {"ended", process(0, 10, 1, 0) + ended(1500, 10), {{0, 1500, 0, {}}}},
      // A reaped child's time shows again in its parent's cutime: only what
      // the trace never showed is the parent's.
      {"a child reaped",
       process(0, 10, 1, 0) + process(0, 11, 10, 0) + process(1000, 11, 10, 30) + ended(1500, 11) +
           process(2000, 10, 1, 0, 30),
       {{0, -1, 0, {}}, {0, 1500, 0.3, {{0, 1000}}}}},
      {"a child reaped with unseen grandchildren",
       process(0, 10, 1, 0) + process(0, 11, 10, 0) + process(1000, 11, 10, 30) + ended(1500, 11) +
           process(2000, 10, 1, 0, 50),
       {{0, -1, 0.2, {{1000, 2000}}}, {0, 1500, 0.3, {{0, 1000}}}}},
  };
  for (const auto& c : cases) {
    trace_model m;
    std::string error;
    ASSERT_TRUE(load_trace_text(header_line + c.rows + sample(3000) + sample(3050), "t", &m, &error)) << error;
    ASSERT_EQ(c.processes.size(), m.processes.size()) << c.name;
    for (size_t i = 0; i < c.processes.size(); ++i) {
      const life& want = c.processes[i];
      const replay::recorded_process& got = m.processes[i];
      EXPECT_EQ(want.start_ms, got.start_ms) << c.name << " " << i;
      EXPECT_EQ(want.end_ms, got.end_ms) << c.name << " " << i;
      EXPECT_NEAR(want.cpu_seconds, got.cpu_seconds, 1e-9) << c.name << " " << i;
      std::vector<std::pair<long long, long long>> burns;
      for (const replay::burn& b : got.burns) burns.push_back({b.from_ms, b.to_ms});
      EXPECT_EQ(want.burns, burns) << c.name << " " << i;
    }
    EXPECT_EQ(3050, m.duration_ms) << c.name;
  }
}

// What would make unbounded or undefined work is refused, with the line.
TEST(TraceModel, TracesBeyondTheLimitsAreRefusedWithTheLine) {
  std::string hour_and_more = header_line;
  for (long long t = 0; t < 3600001; t = std::min(t + 100000, 3600001LL)) hour_and_more += sample(t);
  hour_and_more += sample(3600001);
  std::string many = header_line + sample(0);
  for (int pid = 1; pid <= 4097; ++pid) many += process(0, pid, 1, 0);
  const struct {
    const char* name;
    std::string text;
    const char* error;
  } cases[] = {
      {"empty", "", "t: line 1: the file is empty"},
      {"a NUL", header_line + sample(0) + std::string("S\t50\0", 5), "t: line 3: holds a NUL byte"},
      {"one sample", header_line + sample(0), "fewer than two system samples"},
      {"time going back", header_line + sample(50) + sample(0), "t: line 3: time 0 ms goes back"},
      {"a gap", header_line + sample(0) + sample(120001), "t: line 3: time 120001 ms is more than 120 s after"},
      {"over an hour", hour_and_more, "ms is past the longest trace"},
      {"too many processes", many, "t: line 4099: more than 4096 processes"},
  };
  for (const auto& c : cases) {
    trace_model m;
    std::string error;
    EXPECT_FALSE(load_trace_text(c.text, "t", &m, &error)) << c.name;
    EXPECT_NE(std::string::npos, error.find(c.error)) << c.name << ": " << error;
  }
}

}  // namespace
