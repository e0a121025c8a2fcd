#include "activity.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(DaemonLoop, ContextSwitchesAndTriggers) {
  int total = 5;
  EXPECT_TRUE(parse_context_switches("cpu 1 2 3\nintr 5 6\nctxt 123456\nbtime 1\n", &total));
  EXPECT_EQ(123456, total);
  EXPECT_TRUE(parse_context_switches("ctxt 4294967297\n", &total));
  EXPECT_EQ(1, total);
  total = 5;
  EXPECT_FALSE(parse_context_switches("cpu 1 2 3\nintr 5 6", &total));
  EXPECT_EQ(5, total);
  // Totals that cross 2^31 or 2^32 still give the true difference; no line keeps the previous total.
  int previous = INT_MAX - 49;
  EXPECT_EQ(100, context_switch_delta("ctxt -2147483598\n", &previous));
  EXPECT_EQ(INT_MIN + 50, previous);
  EXPECT_EQ(0, context_switch_delta("intr 1 2", &previous));
  EXPECT_EQ(INT_MIN + 50, previous);
  previous = -6;
  EXPECT_EQ(10, context_switch_delta("ctxt 4\n", &previous));
  previous = INT_MAX;  // the first cycle's
  EXPECT_LT(context_switch_delta("ctxt 1000\n", &previous), 0);

  EXPECT_TRUE(pass_due(103, 100, 0, 1));
  EXPECT_FALSE(pass_due(102, 100, 0, 1));
  EXPECT_TRUE(pass_due(100, 100, 6000, 1));
  EXPECT_FALSE(pass_due(100, 100, 5999, 4));
  EXPECT_TRUE(pass_due(100, 100, -5, 5));
  EXPECT_TRUE(pass_due(1700000000, 0, INT_MIN, 1));               // the first cycle
  EXPECT_EQ(busy_sign::context_switches, busy_sign_of(6000, 9));  // named first when both hold
}

}  // namespace
