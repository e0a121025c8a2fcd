#include "tuning.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
