#include "control.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Control, ParameterValuesTheFaceTakes) {
  const struct {
    const char* key;
    const char* text;
    int value;            // when taken
    const char* refused;  // the start of the message, nullptr: taken
  } cases[] = {
      {"cur_profile", "0", 0, nullptr},
      {"cur_profile", "3", 3, nullptr},
      {"ram.pr.task_min_adj", "-1000", -1000, nullptr},
      {"sched.dstune.mode", "99", 99, nullptr},
      {"ram.pr.swap_pages", "1048576", 1048576, nullptr},
      {"cur_profile", "4", 0, "cur_profile takes 0 to 3, not 4"},
      {"sched.dstune.mode", "5", 0, "sched.dstune.mode takes 0 to 4 or 99, not 5"},
      {"ram.pr.task_min_adj", "-1001", 0, "ram.pr.task_min_adj takes -1000 to 1000, not -1001"},
      {"cur_profile", "", 0, "cur_profile takes a whole number, such as 2"},
      {"cur_profile", "-", 0, "cur_profile takes a whole number"},
      {"cur_profile", "01", 0, "cur_profile takes a whole number"},
      {"cur_profile", "0x1", 0, "cur_profile takes a whole number"},
      {"cur_profile", "+1", 0, "cur_profile takes a whole number"},
      {"ram.pr.swap_pages", "2147483648", 0, "ram.pr.swap_pages takes a whole number"},
      {"ram.pr.swap_pages", "12345678901", 0, "ram.pr.swap_pages takes a whole number"},
      {"enable_boost", "1", 0, "no parameter \"enable_boost\""},
      {"a\nb", "1", 0, "no parameter \"a?b\""},
  };
  for (const auto& c : cases) {
    const user_param* p = nullptr;
    int value = -7;
    char error[256] = "";
    const bool taken = parse_param_value(c.key, c.text, &p, &value, error, sizeof error);
    EXPECT_EQ(c.refused == nullptr, taken) << c.key << " " << c.text << ": " << error;
    if (c.refused == nullptr) {
      EXPECT_EQ(c.value, value);
      EXPECT_STREQ(c.key, p->key);
    } else {
      EXPECT_EQ(0u, std::string(error).find(c.refused)) << error;
    }
  }
  EXPECT_EQ(2, next_profile(0));
  EXPECT_EQ(3, next_profile(2));
  EXPECT_EQ(0, next_profile(3));
  EXPECT_EQ(0, next_profile(1));
  EXPECT_EQ(0, next_profile(-5));
}

// The page shows the message as text: plain ASCII, no '%', the path named,
// and each obstacle told apart.
TEST(Control, ObstacleMessagesNameThePathInPlainText) {
  const param_obstacle obstacles[] = {param_obstacle::full_folder, param_obstacle::folder, param_obstacle::fifo,
                                      param_obstacle::socket,      param_obstacle::device, param_obstacle::link,
                                      param_obstacle::other};
  std::set<std::string> seen;
  for (const param_obstacle o : obstacles) {
    char text[512];
    obstacle_message("/data/media/0/vmk_params", "ram.pr.threshold", o, text, sizeof text);
    const std::string message = text;
    EXPECT_NE(std::string::npos, message.find(" stands at /data/media/0/vmk_params/ram.pr.threshold")) << message;
    EXPECT_EQ(0u, message.find("ram.pr.threshold not written")) << message;
    for (const char c : message) EXPECT_TRUE(c >= 0x20 && c < 0x7f && c != '%') << message;
    EXPECT_TRUE(seen.insert(message).second) << message;
  }
}

}  // namespace
