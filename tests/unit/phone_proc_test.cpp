#include "phone_proc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace trace;
using sandbox::phone_loadavg_text;
using sandbox::phone_stat_text;

TEST(PhoneProc, StatPutsCtxtWhereTheRecordedOneWas) {
  const unsigned long long counters[cpu_counter_count] = {80003, 17, 40001, 900000, 5003, 100, 200, 0};
  for (int ctxt_at : {0, 994, 2325, 2326}) {
    const std::string stat = phone_stat_text(counters, 987654321, 8, ctxt_at, 3);
    const char* text = stat.c_str();
    unsigned long long read_back[cpu_counter_count];
    unsigned long long ctxt = 0;
    int cpus = 0, at = 0;
    ASSERT_TRUE(parse_proc_stat(text, read_back, &ctxt, &cpus, &at));
    EXPECT_EQ(0, memcmp(counters, read_back, sizeof counters));
    EXPECT_EQ(987654321ull, ctxt);
    EXPECT_EQ(8, cpus);
    if (ctxt_at > 0) {
      EXPECT_EQ(ctxt_at, at);
    }
    // The per-CPU lines share out the aggregate exactly.
    unsigned long long user = 0, iowait = 0;
    for (const char* line = strstr(text, "\ncpu0"); line != nullptr; line = strstr(line + 1, "\ncpu")) {
      unsigned long long u, n, s, i, w;
      ASSERT_EQ(5, sscanf(line, "\ncpu%*d %llu %llu %llu %llu %llu", &u, &n, &s, &i, &w));
      user += u;
      iowait += w;
    }
    EXPECT_EQ(counters[0], user);
    EXPECT_EQ(counters[4], iowait);
  }
  system_row r;
  strcpy(r.load[0], "12.50");
  strcpy(r.load[1], "3.00");
  strcpy(r.load[2], "0.07");
  r.runnable = 6;
  r.tasks = 1180;
  r.last_pid = 31337;
  EXPECT_EQ("12.50 3.00 0.07 6/1180 31337\n", phone_loadavg_text(r));
}

}  // namespace
