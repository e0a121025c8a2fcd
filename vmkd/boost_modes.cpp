#include "boost_modes.h"

namespace {

constexpr std::array<boost_row, 5> boost_rows = {{
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {24, -62, 0, 6, 12, 100, -100, 25, 0, 33},
    {24, -62, 0, 6, 12, 100, -100, 25, 0, 33},
    {30, -75, 0, 10, 18, 100, -100, 25, 0, 36},
    {36, -88, 0, 14, 24, 100, -100, 25, 0, 48},
}};

// Modes 1 and 2 write the same values.
static_assert(boost_rows[1] == boost_rows[2]);

}  // namespace

boost_action choose_boost(int mode, const boost_row** row) {
  const unsigned m = static_cast<unsigned>(mode);
  if (m < boost_rows.size()) {
    *row = &boost_rows[m];
    return boost_action::write_row;
  }
  return m == 99 ? boost_action::leave : boost_action::reset_mode;
}
