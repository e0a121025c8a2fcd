#include "throttle_rules.h"

#include <gtest/gtest.h>
#include <sched.h>

namespace {

TEST(ThrottleRules, DecisionTableAndPolicyRule) {
  struct {
    int nice, usage, new_nice, policy;
  } const cases[] = {
      {0, 100, 3, SCHED_IDLE},   {-20, 100, -17, SCHED_IDLE}, {19, 3, 19, SCHED_IDLE},  {14, 3, 15, SCHED_BATCH},
      {13, 79, 16, SCHED_OTHER}, {13, 80, 16, SCHED_BATCH},   {-7, 0, -3, SCHED_OTHER}, {7, 0, 3, SCHED_OTHER},
      {1, 0, 0, SCHED_OTHER},    {-1, 1, 0, SCHED_OTHER},     {5, 2, 4, SCHED_OTHER},   {0, 2, 0, SCHED_OTHER},
      {0, 19, 1, SCHED_OTHER},   {0, 20, 2, SCHED_OTHER},     {0, 49, 2, SCHED_OTHER},  {0, 50, 3, SCHED_OTHER},
      {18, 50, 19, SCHED_BATCH}, {19, 2, 18, SCHED_OTHER},
  };
  for (const auto& c : cases) {
    const throttle_decision d = decide_throttle(c.nice, c.usage);
    EXPECT_EQ(c.new_nice, d.nice) << c.nice << " at " << c.usage;
    EXPECT_EQ(c.policy, d.policy) << c.nice << " at " << c.usage;
  }
}

TEST(ThrottleRules, RowAndPolicyLineNamedForExplanations) {
  struct {
    int nice, usage;
    const char* row;
    int line;
  } const cases[] = {
      {5, 0, "U 0: N / 2", 0},          {5, 2, "U 1 to 2: one step toward 0", 0}, {0, 3, "U 3 to 19: N + 1", 3},
      {14, 19, "U 3 to 19: N + 1", 2},  {0, 20, "U 20 to 49: N + 2", 3},          {19, 49, "U 20 to 49: N + 2", 1},
      {0, 80, "U 50 to 100: N + 3", 2}, {0, 100, "U 50 to 100: N + 3", 1},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.row, decision_row(c.usage)) << c.usage;
    EXPECT_EQ(c.line, policy_rule_line(c.nice, c.usage)) << c.nice << " at " << c.usage;
  }
}

TEST(ThrottleRules, UsageFigureTruncatesAndIsBounded) {
  struct {
    int dproc, dtotal, usage;
  } const cases[] = {
      {10, 80, 15},  // one of eight CPUs busy: share 12
      {0, 80, 0},   {80, 80, 100}, {90, 80, 100},    {-5, 80, 0},
      {5, 0, 0},    {1, 3, 41},    {INT_MIN, -1, 0},  // would trap as 32-bit division; stays defined
  };
  for (const auto& c : cases) EXPECT_EQ(c.usage, usage_figure(c.dproc, c.dtotal)) << c.dproc << "/" << c.dtotal;
}

TEST(ThrottleRules, ParentStepIncrement) {
  EXPECT_EQ(1, parent_nice(0, 48));
  EXPECT_EQ(1, parent_nice(0, 63));
  EXPECT_EQ(3, parent_nice(0, 64));
  EXPECT_EQ(19, parent_nice(19, 100));
  EXPECT_EQ(19, parent_nice(18, 70));
  EXPECT_EQ(48, parent_step_usage);
}

TEST(ThrottleRules, WhatIsLogged) {
  EXPECT_EQ(log_form::none, choose_log(50, 19, 19, SCHED_IDLE, SCHED_IDLE));
  EXPECT_EQ(log_form::with_usage, choose_log(50, 19, 19, SCHED_BATCH, SCHED_IDLE));
  EXPECT_EQ(log_form::none, choose_log(0, 0, 0, SCHED_BATCH, SCHED_OTHER));
  EXPECT_EQ(log_form::without_usage, choose_log(0, 2, 1, SCHED_BATCH, SCHED_OTHER));
  EXPECT_EQ(log_form::none, choose_log(0, -4, -4, SCHED_OTHER, SCHED_OTHER));
}

}  // namespace
