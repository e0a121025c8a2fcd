#include "request.h"

#include <gtest/gtest.h>

namespace {

TEST(Request, NumbersAreReadWithPercentIAndBoundedInOrder) {
  struct {
    const char *nice, *policy, *priority;
    bool foreground;
    bool ok;
    int want_nice, want_policy, want_priority;
  } const cases[] = {
      {nullptr, nullptr, nullptr, true, true, -3, 0, 0},
      {"30", "1", "500", false, true, 19, 1, 100},
      {"-21", "2", "-1", false, true, -20, 2, 0},
      {"-5", "3", "7", false, true, 0, 3, 0},
      {"-5", "1", "50", false, true, -5, 1, 50},
      {"-5", "1", "50", true, true, 0, 1, 50},
      {"-5", "0", "50", true, true, -5, 0, 0},
      {"abc", nullptr, nullptr, true, true, -3, 0, 0},
      {"010", "0x1", "0x10", false, true, 8, 1, 16},
      {"7", "5", "9", false, true, 0, 5, 0},
      {"7", "4", "9", false, false, 0, 0, 0},
      {"7", "6", nullptr, true, false, 0, 0, 0},
      {"7", "-1", nullptr, false, false, 0, 0, 0},
      {"7", "word", nullptr, false, true, 7, 0, 0},
  };
  for (const auto& c : cases) {
    priority_request r;
    r.nice = 99;
    const bool ok = make_request(c.nice, c.policy, c.priority, c.foreground, &r);
    EXPECT_EQ(c.ok, ok) << (c.nice ? c.nice : "-") << " " << (c.policy ? c.policy : "-");
    if (!ok) continue;
    EXPECT_EQ(c.want_nice, r.nice) << (c.nice ? c.nice : "-");
    EXPECT_EQ(c.want_policy, r.policy);
    EXPECT_EQ(c.want_priority, r.rt_priority);
  }
}

}  // namespace
