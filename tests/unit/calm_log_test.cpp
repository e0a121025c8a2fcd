#include "calm_log.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Each line as calmd writes it, and read back the same, names that look
// like a line's tail included.
TEST(CalmLog, LinesAreReadBackAsWritten) {
  auto change = [](const char* name, int usage) {
    calm_line l;
    l.kind = calm_line_kind::change;
    strcpy(l.name, name);
    l.pid = 4242;
    l.usage = usage;
    l.nice = 3;
    l.new_nice = 6;
    l.old_policy = 0;
    l.new_policy = 3;
    return l;
  };
  calm_line start;
  start.ctxt = 2147483647;
  start.nr = 1;
  calm_line parent = change("com.example.syn", 0);
  parent.kind = calm_line_kind::parent_push;
  strcpy(parent.parent, "a (1)) throttled: 0 => 1.");
  parent.ppid = 77;
  const struct {
    calm_line line;
    const char* text;
  } cases[] = {
      {start, "___Active,_ctxt:2147483647,nr:1___"},
      {change("com.example.app", 62), "com.example.app (4242): 62% [-1 jiff], => 3>6 (0>3)"},
      {change("a (1): => 0>0 (0>0)", 0), "a (1): => 0>0 (0>0) (4242): => 3>6 (0>3)"},
      {parent, "com.example.syn (4242): parent (a (1)) throttled: 0 => 1. (77)) throttled: 3 => 6."},
  };
  for (const auto& c : cases) {
    char text[1024];
    format_calm_line(c.line, text, sizeof text);
    EXPECT_STREQ(c.text, text);
    calm_line back;
    ASSERT_TRUE(parse_calm_line(text, &back)) << text;
    char again[1024];
    format_calm_line(back, again, sizeof again);
    EXPECT_STREQ(text, again);
    EXPECT_EQ(c.line.pid, back.pid) << text;
    EXPECT_STREQ(c.line.name, back.name) << text;
  }
  // Not calmd's: another text, a spelling it never writes, values it cannot
  // write, and a line two splits of the names read back alike.
  calm_line l;
  for (const char* other :
       {"", "vmkd: sscaling process is not running...", "x (1): 0% [-1 jiff], => 0>0 (0>0)", "x (0x10): => 1>0 (0>0)",
        "x (1): => 25>0 (0>0)", "x (-3): => 1>0 (0>0)", "x (1): 140% [-1 jiff], => 0>2 (0>3)",
        "u (1): parent (v (2): parent (w (3)) throttled: 0 => 1."})
    EXPECT_FALSE(parse_calm_line(other, &l)) << other;
}

}  // namespace
