// Explains the replay from its record log with the daemons' own pure
// decision code: every scaling cycle of vmkd (checked against what it
// wrote), every throttle pass of calmd and what the nice applier set.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "scaling.h"
#include "trace_model.h"

namespace replay {

struct scaling_cycle_record {
  double start_ms = 0, end_ms = 0;
  scaling_inputs in{};
  int profile = 0;
  int band = 0;
  scaling_rule rule = scaling_rule::band;
  std::string reason;
  bool fixed = false;  // profile not 0
  bool writes_expected = true;
  scaling_setting expected{};
  bool wrote = false;
  std::array<std::string, cpuset_group_count> cpus;  // as written, without the newline
  int policy0_max = -1, policy4_max = -1, policy0_min = -1, policy4_min = -1;
  bool agrees = true;
  std::string disagreement;
};

struct process_change {
  int pid = 0;
  int index = -1;  // the trace's process, -1 when not a stand-in
  std::string name;
  int usage = -1;  // -1: the line carries none (usage 0)
  int nice_before = 0, nice_after = 0, policy_before = 0, policy_after = 0;
  std::string why;
  bool explained = true;
};

struct parent_push {
  int child_pid = 0, parent_pid = 0;
  std::string child, parent;
  int before = 0, after = 0, usage = -1;
  std::string why;
  bool explained = true;
};

struct throttle_pass_record {
  double time_ms = 0;
  int ctxt = 0, nr = 0;
  std::string trigger;
  std::vector<process_change> changes;
  std::vector<parent_push> parents;
};

struct applier_target {
  int index = -1;
  std::string name;
  int group = -1;
  std::string treatment;
  int times_set = 0;  // times its scheduling was seen becoming the treatment
  double first_ms = -1;
};

struct scheduling_point {
  double time_ms;
  int nice, policy;
};

struct daemon_cost {
  int pid = 0;
  std::string role;
  double cpu_seconds = 0;
  long hwm_kib = 0;
};

struct replay_result {
  double duration_ms = 0;
  std::vector<scaling_cycle_record> cycles;
  std::vector<throttle_pass_record> passes;
  std::vector<applier_target> applier;
  std::vector<daemon_cost> costs;
  // Per process of the trace: its stand-in's pid (0: none), scheduling over time, CPU it burnt.
  std::vector<int> stand_in_pid;
  std::vector<int> recorded_pid_kept;
  std::vector<std::vector<scheduling_point>> scheduling;
  std::vector<double> burnt_seconds;
  std::vector<std::pair<double, std::string>> focus;  // changes
  std::vector<std::array<double, 3>> burns;           // time, recorded demand, granted (cores)
  std::vector<std::string> faults;
  int disagreements = 0, unexplained = 0, incomplete_cycles = 0;
};

// Reads the record log; profile is the value of cur_profile during the replay.
replay_result explain(const trace_model& m, const std::string& log, int profile);

// Number of CPUs in a cpuset list such as "2,4-7".
int cpus_in_list(const std::string& list);

}  // namespace replay
