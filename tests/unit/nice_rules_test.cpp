#include "nice_rules.h"

#include <gtest/gtest.h>

namespace {

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
