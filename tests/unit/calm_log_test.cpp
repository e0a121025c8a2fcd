#include "calm_log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CalmLog, NamesAreLoggedOnOneLine) {
  const struct {
    const char* name;
    const char* logged;
  } cases[] = {
      {"com.example.app", "com.example.app"},
      {"x\n[calm]: forged", "x\\x0a[calm]: forged"},
      {"tab\tback\\slash", "tab\\x09back\\x5cslash"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
      {"\xc3\xbc%s[f]", "\xc3\xbc%s[f]"},
  };
  for (const auto& c : cases) {
    char out[logged_name_size];
    logged_name(c.name, out);
    EXPECT_STREQ(c.logged, out) << c.name;
  }
  char out[logged_name_size];
  logged_name(std::string(72, '\n').c_str(), out);
  EXPECT_EQ(std::string(4 * 72, 'x').size(), std::string(out).size());
}

}  // namespace
