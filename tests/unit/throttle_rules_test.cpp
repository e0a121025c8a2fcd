#include "throttle_rules.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <climits>

#include "daemon.h"
#include "foreground.h"
#include "stat_fields.h"

namespace {

TEST(ThrottleRules, DecisionTableAndPolicyRule) {
  struct {
    int nice, usage, new_nice, policy;
  } const cases[] = {
      {0, 100, 3, SCHED_IDLE},   {-20, 100, -17, SCHED_IDLE}, {19, 3, 19, SCHED_IDLE},
      {14, 3, 15, SCHED_BATCH},  {13, 79, 16, SCHED_OTHER},   {13, 80, 16, SCHED_BATCH},
      {-7, 0, -3, SCHED_OTHER},  {7, 0, 3, SCHED_OTHER},      {1, 0, 0, SCHED_OTHER},
      {-1, 1, 0, SCHED_OTHER},   {5, 2, 4, SCHED_OTHER},      {0, 2, 0, SCHED_OTHER},
      {0, 19, 1, SCHED_OTHER},   {0, 20, 2, SCHED_OTHER},     {0, 49, 2, SCHED_OTHER},
      {0, 50, 3, SCHED_OTHER},   {18, 50, 19, SCHED_BATCH},   {19, 2, 18, SCHED_OTHER},
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
      {5, 0, "U 0: N / 2", 0},          {5, 2, "U 1 to 2: one step toward 0", 0},
      {0, 3, "U 3 to 19: N + 1", 3},    {14, 19, "U 3 to 19: N + 1", 2},
      {0, 20, "U 20 to 49: N + 2", 3},  {19, 49, "U 20 to 49: N + 2", 1},
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
      {0, 80, 0},    {80, 80, 100}, {90, 80, 100}, {-5, 80, 0}, {5, 0, 0}, {1, 3, 41},
      {INT_MIN, -1, 0},  // would trap as 32-bit division; stays defined
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

TEST(ThrottleRules, SpecialNames) {
  EXPECT_EQ(special_name::ksmd, classify_name("ksmd"));
  EXPECT_EQ(special_name::none, classify_name("ksmd2"));
  EXPECT_EQ(special_name::kbase_event, classify_name("mali_kbase_event"));
  EXPECT_EQ(special_name::kworker, classify_name("kworker/0:1"));
  EXPECT_EQ(special_name::kworker_realtime, classify_name("kworker/u9:3"));
  EXPECT_EQ(special_name::kworker_realtime, classify_name("kworker/2:0H"));
}

TEST(ThrottleRules, WhatIsLogged) {
  EXPECT_EQ(log_form::none, choose_log(50, 19, 19, SCHED_IDLE, SCHED_IDLE));
  EXPECT_EQ(log_form::with_usage, choose_log(50, 19, 19, SCHED_BATCH, SCHED_IDLE));
  EXPECT_EQ(log_form::none, choose_log(0, 0, 0, SCHED_BATCH, SCHED_OTHER));
  EXPECT_EQ(log_form::without_usage, choose_log(0, 2, 1, SCHED_BATCH, SCHED_OTHER));
  EXPECT_EQ(log_form::none, choose_log(0, -4, -4, SCHED_OTHER, SCHED_OTHER));
}

TEST(StatFields, CountedFromTheLastParenthesis) {
  const char* names[] = {"cat", "a b c", "x) 1 2 3 (y", "))", "%s%n", "(", ""};
  for (const char* name : names) {
    const std::string line = std::string("1234 (") + name +
                             ") S 1 1234 1234 0 -1 4194560 100 0 0 0 11 22 33 44 20 -7 1 0 100 0 0\n";
    const stat_fields f = parse_stat_fields(line.c_str());
    EXPECT_EQ(11, f.utime) << name;
    EXPECT_EQ(22, f.stime) << name;
    EXPECT_EQ(33, f.cutime) << name;
    EXPECT_EQ(44, f.cstime) << name;
    EXPECT_EQ(-7, f.nice) << name;
  }
  const stat_fields empty = parse_stat_fields("");
  EXPECT_EQ(0, empty.nice);
  const stat_fields cut = parse_stat_fields("9 (x) S 1 2 3 4 5 6 7 8 9 10 11");
  EXPECT_EQ(11, cut.utime);
  EXPECT_EQ(0, cut.nice);
}

TEST(Foreground, FirstTokenSystemUiAndNonPackages) {
  struct {
    const char* output;
    const char* name;  // starting from "old.app"
  } const cases[] = {
      {"", "old.app"},
      {"\n\n", "old.app"},  // displays without focus
      {"\n  com.example.app\ncom.other\n", "com.example.app"},
      {"StatusBar}\n", "com.android.systemui"},
      {"NotificationShade}\n", "com.android.systemui"},
      {"Application\n", ""},  // a crash dialog
      {"Keyguard}\n", ""},
      {"PopupWindow:53a5957}\n", ""},
      {"com.example.app}\n", ""},
      {"a..b\n", ""},
      {".a.b\n", ""},
      {"a.b.\n", ""},
      {"org.code_aurora.snapcam2\n", "org.code_aurora.snapcam2"},
  };
  for (const auto& c : cases) {
    char name[foreground_name_size] = "old.app";
    foreground_from_output(c.output, name);
    EXPECT_STREQ(c.name, name) << c.output;
  }
  char name[foreground_name_size] = "";
  const std::string long_token = "a." + std::string(200, 'p');
  foreground_from_output(long_token.c_str(), name);
  EXPECT_EQ(long_token.substr(0, 127), name);
}

TEST(DaemonLoop, ContextSwitchesAndTriggers) {
  int total = 5;
  EXPECT_TRUE(parse_context_switches("cpu 1 2 3\nintr 5 6\nctxt 123456\nbtime 1\n", &total));
  EXPECT_EQ(123456, total);
  EXPECT_TRUE(parse_context_switches("ctxt 4294967297\n", &total));
  EXPECT_EQ(1, total);
  total = 5;
  EXPECT_FALSE(parse_context_switches("cpu 1 2 3\nintr 5 6", &total));
  EXPECT_EQ(5, total);
  // Totals that cross 2^31 or 2^32 still give the true difference.
  EXPECT_EQ(100, wrapping_sub(INT_MIN + 50, INT_MAX - 49));
  EXPECT_EQ(10, wrapping_sub(4, -6));
  EXPECT_LT(wrapping_sub(1000, INT_MAX), 0);

  EXPECT_TRUE(pass_due(103, 100, 0, 1));
  EXPECT_FALSE(pass_due(102, 100, 0, 1));
  EXPECT_TRUE(pass_due(100, 100, 6000, 1));
  EXPECT_FALSE(pass_due(100, 100, 5999, 4));
  EXPECT_TRUE(pass_due(100, 100, -5, 5));
  EXPECT_TRUE(pass_due(1700000000, 0, INT_MIN, 1));  // the first cycle
}

}  // namespace
