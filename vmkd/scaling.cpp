#include "scaling.h"

#include <cstddef>

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

}  // namespace

int load_band(int cpu_load) {
  for (int band = 1; band < 8; ++band)
    if (cpu_load <= bands[band - 1].upper_load) return band;
  return 8;
}

const scaling_setting& band_setting(int band) { return bands[band - 1].setting; }

scaling_choice choose_scaling(const scaling_inputs& in) {
  const int band = load_band(in.cpu_load);
  const scaling_setting& own = band_setting(band);
  // A comparison with a load average that is not a number is false.
  if (in.touch != 0 || in.runnable > 7 || in.cpu_load > 86 || in.iowait_delta > 2 || in.gpu_busy > 39 ||
      in.load_avg >= 12.0f)
    return {band_setting(8), band, scaling_rule::busy};
  if (in.load_avg >= 8.0f && below(own.policy4_max, 1555200)) {
    scaling_setting raised = raise_setting;
    raised.cpus[5] = own.cpus[5];
    raised.cpus[6] = own.cpus[6];
    return {raised, band, scaling_rule::raise};
  }
  if (in.iowait_delta > 1 || in.runnable > 4 || in.gpu_busy > 14 ||
      (in.load_avg >= 6.5f && below(own.policy4_max, 1401600)))
    return {band_setting(3), band, scaling_rule::activity};
  return {own, band, scaling_rule::band};
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
