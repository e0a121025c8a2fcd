#include "explain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace replay;

// A record log from lines written with '|' for the tab.
std::string log_of(const std::vector<std::string>& lines) {
  std::string log;
  for (std::string line : lines) {
    for (char& c : line)
      if (c == '|') c = '\t';
    log += line + "\n";
  }
  return log;
}

trace_model model() {
  trace_model m;
  m.header = trace::default_header();
  m.header.cpus = 8;
  m.header.ctxt_at = 2325;
  m.duration_ms = 54000;
  recorded_process p;
  p.pid = 1800;
  p.comm = "example.sync";
  p.cmdline = "com.example.sync ";
  m.processes.push_back(p);
  return m;
}

// One scaling cycle's reads by pid, in the loop's order; gpu and touch
// files that are missing are not read.
std::vector<std::string> cycle_reads(const std::string& pid, long long at_us, bool gpu_and_touch = true) {
  const std::string stat = "|stat|900000|200|300000|1600000|20000|4000|6000|0|50000150|1";
  const std::string loadavg = "|loadavg|1.10 2.00 1.50 1/1180 31000\\n";
  std::vector<std::string> out;
  auto read = [&](const std::string& what) { out.push_back("R|" + std::to_string(at_us++) + "|" + pid + what); };
  read(stat);
  read(stat);
  if (gpu_and_touch) read("|gpu|3 %\\n");
  read(loadavg);
  read(stat);
  if (gpu_and_touch) read("|touch|0\\n");
  read(loadavg);
  return out;
}

// The fixed profile's setting, as vmkd writes it, with top-app's list given.
std::vector<std::string> full_setting_writes(const std::string& pid, const std::string& top_app = "0-7") {
  std::vector<std::string> out;
  for (int i = 0; i < cpuset_group_count; ++i)
    out.push_back("W|900000|" + pid + "|" + cpuset_files[static_cast<size_t>(i)] + "|" +
                  (i == 0 ? top_app : full_setting.cpus[static_cast<size_t>(i)]) + "\\n");
  for (const char* file : {policy0_max_file, policy4_max_file})
    out.push_back("W|900000|" + pid + "|" + file + "|2016000\\n");
  return out;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out = {"D|vmkd|2000", "D|calmd|2001"};
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Each cycle is rebuilt from the reads of the process that made it and
// checked against what that process wrote after them.
TEST(Explain, CyclesAreCheckedAgainstTheWritesOfTheProcessThatReadTheirInputs) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    size_t cycles;
    int disagreements, incomplete;
  } cases[] = {
      {"the table's setting", joined({cycle_reads("2002", 1000), full_setting_writes("2002")}), 1, 0, 0},
      {"no GPU or touch file", joined({cycle_reads("2002", 1000, false), full_setting_writes("2002")}), 1, 0, 0},
      {"another list", joined({cycle_reads("2002", 1000), full_setting_writes("2002", "0-6")}), 1, 1, 0},
      // The fixed profile writes its setting once.
      {"written again",
       joined({cycle_reads("2002", 1000), full_setting_writes("2002"), cycle_reads("2002", 2000000),
               full_setting_writes("2002")}),
       2, 1, 0},
      // Another process's writes are not the cycle's, which the end then cut off.
      {"written by another", joined({cycle_reads("2002", 1000), full_setting_writes("2003", "0-6")}), 0, 0, 0},
      {"calmd's reads", joined({cycle_reads("2001", 1000), full_setting_writes("2001", "0-6")}), 0, 0, 0},
      {"broken off", joined({{cycle_reads("2002", 1000)[0], "R|5|2002|loadavg|1.10 2.00 1.50 1/1180 31000\\n"}}), 0, 0,
       1},
  };
  for (const auto& c : cases) {
    const replay_result r = explain(model(), log_of(c.lines), 2);
    EXPECT_EQ(c.cycles, r.cycles.size()) << c.name;
    EXPECT_EQ(c.disagreements, r.disagreements) << c.name;
    EXPECT_EQ(c.incomplete, r.incomplete_cycles) << c.name;
  }
  const replay_result r =
      explain(model(), log_of(joined({cycle_reads("2002", 1000), full_setting_writes("2002", "0-6")})), 2);
  ASSERT_EQ(1u, r.cycles.size());
  EXPECT_NE(std::string::npos, r.cycles[0].disagreement.find("/dev/cpuset/top-app/cpus \"0-6\""))
      << r.cycles[0].disagreement;
}

// Each change calmd logs, and each parent step, is held against the table
// row its usage and nice give; a pass is told by what started it.
TEST(Explain, CalmdChangesAndParentStepsAreExplainedByTheTableOrCountedUnexplained) {
  const replay_result r = explain(model(),
                                  log_of({
                                      "S|100|0|1800|1800",
                                      "K|200|[calm]: ___Active,_ctxt:0,nr:6___",
                                      "K|300|[calm]: example.sync (1800): 7% [-1 jiff], => 3>4 (0>0)",
                                      "K|400|[calm]: example.sync (1800): 7% [-1 jiff], => 3>12 (0>0)",
                                      "K|500|[calm]: worker (1801): parent (example.sync (1800)) throttled: 2 => 3.",
                                      "K|600|[calm]: worker (1801): 60% [-1 jiff], => 0>3 (0>0)",
                                      "K|700|[calm]: worker (1802): parent (example.sync (1800)) throttled: 3 => 6.",
                                      "K|800|[calm]: worker (1802): 60% [-1 jiff], => 0>3 (0>0)",
                                  }),
                                  0);
  ASSERT_EQ(1u, r.passes.size());
  EXPECT_EQ("runnable count: nr = 6 >= 5", r.passes[0].trigger);
  ASSERT_EQ(4u, r.passes[0].changes.size());
  EXPECT_EQ(0, r.passes[0].changes[0].index);
  EXPECT_TRUE(r.passes[0].changes[0].explained) << r.passes[0].changes[0].why;
  EXPECT_FALSE(r.passes[0].changes[1].explained);
  EXPECT_TRUE(r.passes[0].changes[2].explained) << r.passes[0].changes[2].why;
  // A parent's step is explained by its child's usage, logged on the line after it.
  ASSERT_EQ(2u, r.passes[0].parents.size());
  EXPECT_EQ(60, r.passes[0].parents[0].usage);
  EXPECT_TRUE(r.passes[0].parents[0].explained) << r.passes[0].parents[0].why;
  EXPECT_FALSE(r.passes[0].parents[1].explained) << r.passes[0].parents[1].why;
  EXPECT_EQ(2, r.unexplained);
}

// What the feeder saw go wrong, what each daemon process cost and what each
// stand-in burnt reach the result as recorded.
TEST(Explain, FaultsCostsAndBurnsAreTakenAsRecorded) {
  const replay_result r = explain(model(),
                                  log_of({
                                      "S|100|0|1900|1800",
                                      "!|200|vmkd ended with status 1",
                                      "!|300|/run/sim/calmd.out: a\\tb",
                                      "A|0|890",
                                      "A|7|5",  // no such process
                                      "C|2002|vmkd|22|1508",
                                      "C|2001|calmd|4|1684",
                                  }),
                                  0);
  EXPECT_EQ((std::vector<std::string>{"vmkd ended with status 1", "/run/sim/calmd.out: a\tb"}), r.faults);
  ASSERT_EQ(2u, r.costs.size());
  EXPECT_EQ(2002, r.costs[0].pid);
  EXPECT_EQ("vmkd", r.costs[0].role);
  EXPECT_DOUBLE_EQ(0.22, r.costs[0].cpu_seconds);
  EXPECT_EQ(1508, r.costs[0].hwm_kib);
  EXPECT_EQ("calmd", r.costs[1].role);
  EXPECT_DOUBLE_EQ(8.9, r.burnt_seconds[0]);
  EXPECT_EQ(1900, r.stand_in_pid[0]);
  EXPECT_EQ(0, r.recorded_pid_kept[0]);
}

}  // namespace
