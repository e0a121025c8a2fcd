#include "cpu_load.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

cpu_counters sample(int user, int idle, int iowait = 0) {
  cpu_counters c;
  c.user = user;
  c.idle = idle;
  c.iowait = iowait;
  return c;
}

TEST(CpuLoad, QuotientIsFormedFirstAndTruncated) {
  struct {
    int busy, total, percent;
  } const cases[] = {
      {0, 100, 0},  {100, 100, 100}, {1, 3, 33},    {2, 3, 66},    {29, 100, 28}, {58, 200, 28},
      {29, 50, 57}, {57, 100, 56},   {58, 100, 57}, {50, 100, 50}, {0, 1, 0},     {7, 7, 100},
  };
  const cpu_counters base = sample(1000, 5000);
  for (const auto& c : cases) {
    const cpu_counters later = sample(1000 + c.busy, 5000 + c.total - c.busy);
    EXPECT_EQ(c.percent, cpu_load_between(base, later)) << c.busy << " of " << c.total;
  }
}

TEST(CpuLoad, IowaitIsBusyAndIdenticalReadingsGiveIntMax) {
  const cpu_counters base = sample(10, 10, 10);
  EXPECT_EQ(25, cpu_load_between(base, sample(10, 40, 20)));
  EXPECT_EQ(INT_MAX, cpu_load_between(base, base));
  // Counters that run backwards follow the formula; a zero total still saturates.
  EXPECT_EQ(INT_MAX, cpu_load_between(base, sample(20, 0, 10)));
  EXPECT_EQ(100, cpu_load_between(base, sample(5, 10, 10)));
}

TEST(CpuLoad, ReadsTheFirstFiveCountersOfTheAggregateLine) {
  cpu_counters c;
  ASSERT_TRUE(cpu_counters_from_text("cpu  10 20 30 40 50 60 70 0 0 0\ncpu0 1 2 3 4 5 6 7 0 0 0\n", &c));
  EXPECT_TRUE(c.user == 10 && c.nice == 20 && c.system == 30 && c.idle == 40 && c.iowait == 50);
  EXPECT_FALSE(cpu_counters_from_text("cpu 1 2 3\n", &c));
}

}  // namespace
