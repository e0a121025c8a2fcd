#include "tuning.h"

#include <gtest/gtest.h>

#include "nice_applier.h"

namespace {

TEST(Boost, ModesAndTheirRows) {
  struct {
    int mode;
    boost_action action;
    int first, bg, rt;
  } const cases[] = {
      {0, boost_action::write_row, 0, 0, 0},      {1, boost_action::write_row, 24, -62, 33},
      {2, boost_action::write_row, 24, -62, 33},  {3, boost_action::write_row, 30, -75, 36},
      {4, boost_action::write_row, 36, -88, 48},  {99, boost_action::leave, 0, 0, 0},
      {5, boost_action::reset_mode, 0, 0, 0},     {-1, boost_action::reset_mode, 0, 0, 0},
      {100, boost_action::reset_mode, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const boost_row* row = nullptr;
    EXPECT_EQ(c.action, choose_boost(c.mode, &row)) << c.mode;
    if (c.action != boost_action::write_row) continue;
    EXPECT_EQ(c.first, (*row)[0]) << c.mode;
    EXPECT_EQ(c.bg, (*row)[1]) << c.mode;
    EXPECT_EQ(c.rt, (*row)[9]) << c.mode;
  }
}

TEST(TuningCycle, LivenessEverySecondAndPeriodicStepsEveryThird) {
  const bool liveness[] = {true, false, true, false, true, false, true};
  const bool periodic[] = {true, false, false, true, false, false, true};
  for (unsigned n = 0; n < 7; ++n) {
    EXPECT_EQ(liveness[n], steps_of_cycle(n).liveness) << n;
    EXPECT_EQ(periodic[n], steps_of_cycle(n).periodic) << n;
  }
  // The counter wraps at 2^32 onto a cycle that runs everything again.
  EXPECT_FALSE(steps_of_cycle(4294967295u).liveness);
  EXPECT_TRUE(steps_of_cycle(4294967295u).periodic);
}

TEST(NiceApplier, FirstMatchingGroupDecides) {
  struct {
    const char* name;
    const char* cmdline;
    int group;
  } const cases[] = {
      {"dex2oat", "(null)", 0},
      {"x", "com.google.android.apps.photos ", 1},
      {"logd", "/system/bin/logd ", 1},
      {"y", "watchlogdog ", 1},
      {"z", "collector analytics logd ", 0},
      {"fp", "/vendor/bin/hw/Fingerprint@2.1-service ", -1},
      {"fp", "android.hardware.biometrics.fingerprint@2.1-service ", 3},
      {"m", "com.mi.android.globalminusscreen ", 2},
      {"lmkd", "(null)", 4},
      {"surfaceflinger", "/system/bin/surfaceflinger ", -1},
      {"(null)", "(null)", -1},
      {"MetricaService", "x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.group, match_nice_rule(c.name, c.cmdline)) << c.name << " " << c.cmdline;
  EXPECT_TRUE(nice_rule_treatment(0).idle_policy);
  const int nice[] = {0, 19, 4, -3, 1};
  for (int g = 1; g < 5; ++g) EXPECT_EQ(nice[g], nice_rule_treatment(g).nice);
}

}  // namespace
