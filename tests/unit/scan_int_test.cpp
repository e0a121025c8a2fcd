#include "scan_int.h"

#include <gtest/gtest.h>

namespace {

TEST(ScanInt, ReadsLikeScanfPercentI) {
  struct {
    const char* text;
    bool ok;
    int value;
  } const cases[] = {
      {"010", true, 8},        {"0x10", true, 16},
      {" 42", true, 42},       {"-5", true, -5},
      {"+7x", true, 7},        {"word", false, 99},
      {"", false, 99},         {"12/34", true, 12},
      {"4294967297", true, 1}, {"-2147483648", true, -2147483647 - 1},
      {"08", true, 0},
  };
  for (const auto& c : cases) {
    int value = 99;
    EXPECT_EQ(c.ok, scan_int(c.text, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
  }
}

}  // namespace
