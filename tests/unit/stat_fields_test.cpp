#include "stat_fields.h"

#include <gtest/gtest.h>

namespace {

TEST(StatFields, CountedFromTheLastParenthesis) {
  const char* names[] = {"cat", "a b c", "x) 1 2 3 (y", "))", "%s%n", "(", ""};
  for (const char* name : names) {
    const std::string line =
        std::string("1234 (") + name +
        ") Z 1 1234 1234 0 -1 4194560 100 0 0 0 11 22 33 44 20 -7 1 0 5000000000 0 0 18446744073709551615 1 1 0 0 "
        "0 0 0 0 0 0 0 0 17 5 0 3 0 0 0\n";
    const stat_fields f = parse_stat_fields(line.c_str());
    EXPECT_EQ(11, f.utime) << name;
    EXPECT_EQ(22, f.stime) << name;
    EXPECT_EQ(33, f.cutime) << name;
    EXPECT_EQ(44, f.cstime) << name;
    EXPECT_EQ(-7, f.nice) << name;
    EXPECT_EQ('Z', f.state) << name;
    EXPECT_EQ(5000000000ull, f.start_ticks) << name;
    EXPECT_EQ(3, f.policy) << name;
  }
  const stat_fields empty = parse_stat_fields("");
  EXPECT_EQ(0, empty.nice);
  const stat_fields cut = parse_stat_fields("9 (x) S 1 2 3 4 5 6 7 8 9 10 11");
  EXPECT_EQ(11, cut.utime);
  EXPECT_EQ(0, cut.nice);
}

}  // namespace
