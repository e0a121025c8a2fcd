#include "scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

scaling_inputs quiet(int load) { return {load, 0, 1, 0, 0, 0.5f}; }

TEST(Scaling, BandBoundsAreInclusive) {
  const int bounds[][2] = {{17, 1}, {18, 2}, {32, 2}, {33, 3}, {44, 3}, {45, 4}, {60, 4}, {61, 5},
                           {69, 5}, {70, 6}, {78, 6}, {79, 7}, {86, 7}, {87, 8}, {-5, 1}, {2147483647, 8}};
  for (const auto& b : bounds) {
    EXPECT_EQ(b[1], load_band(b[0])) << b[0];
    const scaling_choice c = choose_scaling(quiet(b[0]));
    EXPECT_EQ(b[1], c.band);
  }
}

TEST(Scaling, BandSevenHasTheHigherBigClusterLimit) {
  EXPECT_EQ(1996800, band_setting(7).policy4_max);
  EXPECT_EQ(1804800, band_setting(8).policy4_max);
  EXPECT_EQ(1670400, band_setting(8).policy0_max);
  for (int band = 1; band <= 8; ++band) EXPECT_STREQ("0", band_setting(band).cpus[6]);
}

TEST(Scaling, RulesInTheirOrder) {
  struct {
    const char* what;
    scaling_inputs in;
    scaling_rule rule;
    const char* top_app;
    const char* camera;
    int policy0_max, policy4_max;
  } const cases[] = {
      {"quiet band 1", quiet(5), scaling_rule::band, "0-2", "0-1", 614400, 633600},
      {"touch", {5, 0, 1, 0, 1, 0.5f}, scaling_rule::busy, "0-7", "0-3", 1670400, 1804800},
      {"run queue 8", {5, 0, 8, 0, 0, 0.5f}, scaling_rule::busy, "0-7", "0-3", 1670400, 1804800},
      {"iowait 3", {5, 0, 1, 3, 0, 0.5f}, scaling_rule::busy, "0-7", "0-3", 1670400, 1804800},
      {"gpu 40", {5, 40, 1, 0, 0, 0.5f}, scaling_rule::busy, "0-7", "0-3", 1670400, 1804800},
      {"L 12", {5, 0, 1, 0, 0, 12.0f}, scaling_rule::busy, "0-7", "0-3", 1670400, 1804800},
      {"L 8.0 in band 4", {50, 0, 1, 0, 0, 8.0f}, scaling_rule::raise, "0-5", "0-2", 1036800, 1555200},
      {"L 8.0 in band 1", {5, 0, 1, 0, 0, 8.0f}, scaling_rule::raise, "0-5", "0-1", 1036800, 1555200},
      {"L 9.0 in band 5", {65, 0, 1, 0, 0, 9.0f}, scaling_rule::band, "0-5", "0-3", 1036800, 1555200},
      {"L 6.5 in band 2", {20, 0, 1, 0, 0, 6.5f}, scaling_rule::activity, "0-4", "0-1", 883200, 1401600},
      {"L 6.5 in band 3", {40, 0, 1, 0, 0, 6.5f}, scaling_rule::band, "0-4", "0-1", 883200, 1401600},
      {"r 5 lowers band 5", {65, 0, 5, 0, 0, 0.5f}, scaling_rule::activity, "0-4", "0-1", 883200, 1401600},
      {"iowait 2", {5, 0, 1, 2, 0, 0.5f}, scaling_rule::activity, "0-4", "0-1", 883200, 1401600},
      {"gpu 15", {80, 15, 1, 0, 0, 0.5f}, scaling_rule::activity, "0-4", "0-1", 883200, 1401600},
      {"gpu 14 quiet", {80, 14, 4, 1, 0, 6.4f}, scaling_rule::band, "0-6", "0-3", 1363200, 1996800},
      {"NaN load average", {20, 0, 1, 0, 0, std::nanf("")}, scaling_rule::band, "0-3", "0-1", 614400, 902400},
  };
  for (const auto& c : cases) {
    const scaling_choice got = choose_scaling(c.in);
    EXPECT_EQ(c.rule, got.rule) << c.what;
    EXPECT_STREQ(c.top_app, got.setting.cpus[0]) << c.what;
    EXPECT_STREQ(c.camera, got.setting.cpus[5]) << c.what;
    EXPECT_EQ(c.policy0_max, got.setting.policy0_max) << c.what;
    EXPECT_EQ(c.policy4_max, got.setting.policy4_max) << c.what;
  }
}

}  // namespace

namespace {

TEST(Scaling, DecisionIsDescribedByTheTestThatFired) {
  const struct {
    scaling_inputs in;
    const char* text;
  } cases[] = {
      {quiet(5), "band 1: c = 5 <= 17"},
      {quiet(50), "band 4: c = 50 in 45..60"},
      {quiet(86), "band 7: c = 86 in 79..86"},
      {quiet(87), "busy: c = 87 > 86"},
      {{5, 0, 1, 0, 1, 0.5f}, "busy: t = 1 is not 0"},
      {{5, 0, 8, 5, 0, 0.5f}, "busy: r = 8 > 7"},
      {{5, 0, 1, 5, 0, 0.5f}, "busy: w = 5 > 2"},
      {{5, 40, 1, 0, 0, 0.5f}, "busy: g = 40 > 39"},
      {{5, 0, 1, 0, 0, 12.0f}, "busy: L = 12.00 >= 12"},
      {{50, 0, 1, 0, 0, 8.0f}, "raise: L = 8.00 >= 8 and band 4's policy4 max 1401600 < 1555200"},
      {{65, 0, 1, 2, 0, 9.0f}, "activity: w = 2 > 1"},
      {{65, 0, 5, 0, 0, 0.5f}, "activity: r = 5 > 4"},
      {{65, 15, 1, 0, 0, 0.5f}, "activity: g = 15 > 14"},
      {{20, 0, 1, 0, 0, 6.5f}, "activity: L = 6.50 >= 6.5 and band 2's policy4 max 902400 < 1401600"},
      {{65, 0, 1, 0, 0, 9.0f}, "band 5: c = 65 in 61..69"},
  };
  for (const auto& c : cases) {
    char text[128];
    describe_decision(c.in, text, sizeof text);
    EXPECT_STREQ(c.text, text);
    // The words before the colon name the rule that choose_scaling applies.
    const std::string rule = rule_name(choose_scaling(c.in).rule);
    EXPECT_EQ(0u, std::string(text).find(rule == "band" ? "band " : rule + ":")) << text;
  }
}

}  // namespace

namespace {

// Whose a value is, by the table: in a fixed profile only the fixed setting
// is vmkd's; in profile 0 any band's or rule's, and the fixed setting, which
// stands until the loop's next check after a switch.
TEST(Scaling, WhoseAValueIsByTheTable) {
  constexpr value_owner vmkd = value_owner::vmkd, other = value_owner::another_writer, none = value_owner::not_vmkds;
  const struct {
    int profile, group;
    const char* cpus;
    value_owner owner;
  } lists[] = {
      {2, 0, "0-7", vmkd},    {2, 3, "2,4-7", vmkd}, {2, 3, "0-7", other}, {2, 6, "0", vmkd},   {2, 6, "0-3", other},
      {2, 4, "0-3", other},   {0, 4, "0-3", vmkd},   {3, 4, "0-4", vmkd},  {1, 5, "0-3", vmkd}, {-7, 5, "0-1", other},
      {0, 0, "0-2", vmkd},    {0, 0, "0-1", other},  {0, 1, "0-1", vmkd},  {0, 3, "2,4", vmkd}, {0, 3, "2,4-6", vmkd},
      {0, 3, "0-7", other},   {0, 5, "0-2", vmkd},   {0, 0, "0-5", vmkd},  {0, 0, "0-7", vmkd}, {0, 6, "0-1", other},
      {0, 3, "0-1,2", other}, {0, 7, "0", none},     {0, -1, "0", none},   {0, 0, "", other},
  };
  for (const auto& c : lists)
    EXPECT_EQ(c.owner, cpus_owner(c.profile, c.group, c.cpus)) << c.profile << " " << c.group << " " << c.cpus;

  using fl = frequency_limit;
  const struct {
    int profile;
    frequency_limit limit;
    int khz;
    value_owner owner;
  } limits[] = {
      {2, fl::policy0_max, 2016000, vmkd},  {2, fl::policy4_max, 2016000, vmkd}, {2, fl::policy0_max, 1670400, other},
      {3, fl::policy4_max, 2803200, other}, {0, fl::policy0_max, 1670400, vmkd}, {0, fl::policy0_max, 2016000, vmkd},
      {0, fl::policy4_max, 2803200, other}, {0, fl::policy4_max, 1996800, vmkd}, {0, fl::policy0_max, 1996800, other},
      {0, fl::policy4_max, 1555200, vmkd},  {0, fl::policy0_max, 1036800, vmkd}, {0, fl::policy4_max, 633600, vmkd},
      {0, fl::policy0_max, 633600, other},  {0, fl::policy0_min, 614400, vmkd},  {0, fl::policy0_min, 633600, other},
      {0, fl::policy4_min, 633600, vmkd},   {0, fl::policy4_min, 300000, other}, {2, fl::policy0_min, 300000, none},
      {2, fl::policy4_min, 633600, none},   {0, fl::policy4_max, -1, other},
  };
  for (const auto& c : limits)
    EXPECT_EQ(c.owner, frequency_owner(c.profile, c.limit, c.khz))
        << c.profile << " " << static_cast<int>(c.limit) << " " << c.khz;
}

// Every setting the loop can choose is vmkd's in profile 0: each band, and
// each rule fired from each band.
TEST(Scaling, EverySettingTheLoopChoosesIsVmkds) {
  const scaling_inputs rules[] = {
      {0, 0, 1, 0, 0, 0.5f},  // the band's own
      {0, 0, 1, 0, 1, 0.5f},  // busy
      {0, 0, 1, 0, 0, 8.0f},  // raise (bands 1 to 4)
      {0, 0, 5, 0, 0, 0.5f},  // activity
  };
  for (int load = 0; load <= 100; ++load) {
    for (scaling_inputs in : rules) {
      in.cpu_load = load;
      const scaling_setting s = choose_scaling(in).setting;
      for (int g = 0; g < cpuset_group_count; ++g)
        EXPECT_EQ(value_owner::vmkd, cpus_owner(0, g, s.cpus[static_cast<size_t>(g)])) << load << " " << g;
      EXPECT_EQ(value_owner::vmkd, frequency_owner(0, frequency_limit::policy0_max, s.policy0_max)) << load;
      EXPECT_EQ(value_owner::vmkd, frequency_owner(0, frequency_limit::policy4_max, s.policy4_max)) << load;
    }
  }
}

}  // namespace
