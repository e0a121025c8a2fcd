#include "foreground.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Foreground, FirstTokenSystemUiAndNonPackages) {
  struct {
    const char* output;
    const char* name;  // starting from "old.app"
  } const cases[] = {
      {"", "old.app"},
      {"\n\n", "old.app"},  // displays without focus
      {"\n  com.example.app\ncom.other\n", "com.example.app"},
      {"StatusBar}\n", "com.android.systemui"},
      {"NotificationShade}\n", "com.android.systemui"},
      {"Application\n", ""},  // a crash dialog
      {"Keyguard}\n", ""},
      {"PopupWindow:53a5957}\n", ""},
      {"com.example.app}\n", ""},
      {"a..b\n", ""},
      {".a.b\n", ""},
      {"a.b.\n", ""},
      {"org.code_aurora.snapcam2\n", "org.code_aurora.snapcam2"},
  };
  for (const auto& c : cases) {
    char name[foreground_name_size] = "old.app";
    foreground_from_output(c.output, name);
    EXPECT_STREQ(c.name, name) << c.output;
  }
  char name[foreground_name_size] = "";
  const std::string long_token = "a." + std::string(200, 'p');
  foreground_from_output(long_token.c_str(), name);
  EXPECT_EQ(long_token.substr(0, 127), name);
}

}  // namespace
