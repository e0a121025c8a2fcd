#include "boost_modes.h"

#include <gtest/gtest.h>

namespace {

TEST(Boost, ModesAndTheirRows) {
  struct {
    int mode;
    boost_action action;
    int first, bg, rt;
  } const cases[] = {
      {0, boost_action::write_row, 0, 0, 0},     {1, boost_action::write_row, 24, -62, 33},
      {2, boost_action::write_row, 24, -62, 33}, {3, boost_action::write_row, 30, -75, 36},
      {4, boost_action::write_row, 36, -88, 48}, {99, boost_action::leave, 0, 0, 0},
      {5, boost_action::reset_mode, 0, 0, 0},    {-1, boost_action::reset_mode, 0, 0, 0},
      {100, boost_action::reset_mode, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const boost_row* row = nullptr;
    EXPECT_EQ(c.action, choose_boost(c.mode, &row)) << c.mode;
    if (c.action != boost_action::write_row) continue;
    EXPECT_EQ(c.first, (*row)[0]) << c.mode;
    EXPECT_EQ(c.bg, (*row)[1]) << c.mode;
    EXPECT_EQ(c.rt, (*row)[9]) << c.mode;
  }
}

}  // namespace
