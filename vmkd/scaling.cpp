#include "scaling.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

struct band_row {
  int upper_load;  // inclusive; the last band has no upper bound
  scaling_setting setting;
};

constexpr std::array<band_row, 8> bands = {{
    {17, {{"0-2", "0-1", "0-1", "0-2", "0-1", "0-1", "0"}, 614400, 633600}},
    {32, {{"0-3", "0-2", "0-2", "0-2", "0-1", "0-1", "0"}, 614400, 902400}},
    {44, {{"0-4", "0-4", "0-4", "2,4", "0-2", "0-1", "0"}, 883200, 1401600}},
    {60, {{"0-5", "0-4", "0-4", "2,4-5", "0-3", "0-2", "0"}, 1036800, 1401600}},
    {69, {{"0-5", "0-5", "0-5", "2,4-5", "0-3", "0-3", "0"}, 1036800, 1555200}},
    {78, {{"0-6", "0-5", "0-5", "2,4-5", "0-3", "0-3", "0"}, 1363200, 1804800}},
    {86, {{"0-6", "0-6", "0-6", "2,4-6", "0-4", "0-3", "0"}, 1363200, 1996800}},
    {0, {{"0-7", "0-7", "0-7", "2,4-7", "0-4", "0-3", "0"}, 1670400, 1804800}},
}};

// Bands 1 to 7 end at rising loads inside 0..100; band 8 takes the rest, so
// every load has exactly one band.
constexpr bool bands_cover_all_loads() {
  if (bands[0].upper_load < 0 || bands[6].upper_load >= 100) return false;
  for (std::size_t i = 1; i < 7; ++i)
    if (bands[i].upper_load <= bands[i - 1].upper_load) return false;
  return true;
}
static_assert(bands_cover_all_loads());

// The raise rule's setting: the first five groups and both limits fixed; the
// camera-daemon and background groups are kept from the load's own band.
constexpr scaling_setting raise_setting = {{"0-5", "0-5", "0-5", "2,4-5", "0-3", nullptr, nullptr}, 1036800, 1555200};

// Frequencies are compared unsigned.
constexpr bool below(int frequency, unsigned limit) { return static_cast<unsigned>(frequency) < limit; }

// Whether a setting the table writes in the profile passes the test. The
// busy and activity rules give bands 8 and 3, and the raise rule keeps two
// lists of a band. The fixed setting counts in profile 0 too: the loop leaves
// the fixed regime at its next check, up to 10 s after the switch.
template <class Test>
bool table_writes(int profile, Test&& test) {
  if (test(full_setting)) return true;
  if (profile != 0) return false;
  for (const band_row& b : bands)
    if (test(b.setting)) return true;
  return test(raise_setting);
}

}  // namespace

int load_band(int cpu_load) {
  for (int band = 1; band < 8; ++band)
    if (cpu_load <= bands[band - 1].upper_load) return band;
  return 8;
}

const scaling_setting& band_setting(int band) { return bands[band - 1].setting; }

scaling_test deciding_test(const scaling_inputs& in) {
  const scaling_setting& own = band_setting(load_band(in.cpu_load));
  // A comparison with a load average that is not a number is false.
  if (in.touch != 0) return scaling_test::touch;
  if (in.runnable > 7) return scaling_test::runnable_busy;
  if (in.cpu_load > 86) return scaling_test::load_busy;
  if (in.iowait_delta > 2) return scaling_test::iowait_busy;
  if (in.gpu_busy > 39) return scaling_test::gpu_busy;
  if (in.load_avg >= 12.0f) return scaling_test::loadavg_busy;
  if (in.load_avg >= 8.0f && below(own.policy4_max, 1555200)) return scaling_test::loadavg_raise;
  if (in.iowait_delta > 1) return scaling_test::iowait_activity;
  if (in.runnable > 4) return scaling_test::runnable_activity;
  if (in.gpu_busy > 14) return scaling_test::gpu_activity;
  if (in.load_avg >= 6.5f && below(own.policy4_max, 1401600)) return scaling_test::loadavg_activity;
  return scaling_test::none;
}

scaling_rule rule_of(scaling_test test) {
  switch (test) {
    case scaling_test::none: return scaling_rule::band;
    case scaling_test::loadavg_raise: return scaling_rule::raise;
    case scaling_test::iowait_activity:
    case scaling_test::runnable_activity:
    case scaling_test::gpu_activity:
    case scaling_test::loadavg_activity: return scaling_rule::activity;
    default: return scaling_rule::busy;
  }
}

scaling_choice choose_scaling(const scaling_inputs& in) {
  const int band = load_band(in.cpu_load);
  const scaling_setting& own = band_setting(band);
  switch (rule_of(deciding_test(in))) {
    case scaling_rule::busy: return {band_setting(8), band, scaling_rule::busy};
    case scaling_rule::raise: {
      scaling_setting raised = raise_setting;
      raised.cpus[5] = own.cpus[5];
      raised.cpus[6] = own.cpus[6];
      return {raised, band, scaling_rule::raise};
    }
    case scaling_rule::activity: return {band_setting(3), band, scaling_rule::activity};
    case scaling_rule::band: break;
  }
  return {own, band, scaling_rule::band};
}

int describe_decision(const scaling_inputs& in, char* out, size_t size) {
  const int band = load_band(in.cpu_load);
  const int policy4 = band_setting(band).policy4_max;
  const double load_avg = in.load_avg;
  switch (deciding_test(in)) {
    case scaling_test::touch: return snprintf(out, size, "busy: t = %i is not 0", in.touch);
    case scaling_test::runnable_busy: return snprintf(out, size, "busy: r = %i > 7", in.runnable);
    case scaling_test::load_busy: return snprintf(out, size, "busy: c = %i > 86", in.cpu_load);
    case scaling_test::iowait_busy: return snprintf(out, size, "busy: w = %i > 2", in.iowait_delta);
    case scaling_test::gpu_busy: return snprintf(out, size, "busy: g = %i > 39", in.gpu_busy);
    case scaling_test::loadavg_busy: return snprintf(out, size, "busy: L = %.2f >= 12", load_avg);
    case scaling_test::loadavg_raise:
      return snprintf(out, size, "raise: L = %.2f >= 8 and band %i's policy4 max %i < 1555200", load_avg, band,
                      policy4);
    case scaling_test::iowait_activity: return snprintf(out, size, "activity: w = %i > 1", in.iowait_delta);
    case scaling_test::runnable_activity: return snprintf(out, size, "activity: r = %i > 4", in.runnable);
    case scaling_test::gpu_activity: return snprintf(out, size, "activity: g = %i > 14", in.gpu_busy);
    case scaling_test::loadavg_activity:
      return snprintf(out, size, "activity: L = %.2f >= 6.5 and band %i's policy4 max %i < 1401600", load_avg, band,
                      policy4);
    case scaling_test::none: break;
  }
  if (band == 1) return snprintf(out, size, "band 1: c = %i <= 17", in.cpu_load);
  if (band == 8) return snprintf(out, size, "band 8: c = %i >= 87", in.cpu_load);
  return snprintf(out, size, "band %i: c = %i in %i..%i", band, in.cpu_load, bands[band - 2].upper_load + 1,
                  bands[band - 1].upper_load);
}

value_owner cpus_owner(int profile, int group, const char* cpus) {
  if (group < 0 || group >= cpuset_group_count || cpus == nullptr) return value_owner::not_vmkds;
  const auto i = static_cast<size_t>(group);
  return table_writes(profile,
                      [&](const scaling_setting& s) { return s.cpus[i] != nullptr && strcmp(s.cpus[i], cpus) == 0; })
             ? value_owner::vmkd
             : value_owner::another_writer;
}

value_owner frequency_owner(int profile, frequency_limit limit, int khz) {
  switch (limit) {
    case frequency_limit::policy0_min:
    case frequency_limit::policy4_min: {
      // Written on every load-driven cycle, never by the fixed regime.
      if (profile != 0) return value_owner::not_vmkds;
      const int minimum = limit == frequency_limit::policy0_min ? policy0_min_khz : policy4_min_khz;
      return khz == minimum ? value_owner::vmkd : value_owner::another_writer;
    }
    case frequency_limit::policy0_max:
    case frequency_limit::policy4_max: break;
  }
  const bool policy0 = limit == frequency_limit::policy0_max;
  return table_writes(profile,
                      [&](const scaling_setting& s) { return (policy0 ? s.policy0_max : s.policy4_max) == khz; })
             ? value_owner::vmkd
             : value_owner::another_writer;
}

const char* rule_name(scaling_rule rule) {
  switch (rule) {
    case scaling_rule::busy: return "busy";
    case scaling_rule::raise: return "raise";
    case scaling_rule::activity: return "activity";
    case scaling_rule::band: break;
  }
  return "band";
}
