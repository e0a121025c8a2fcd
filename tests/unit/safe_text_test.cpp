#include "safe_text.h"

#include <gtest/gtest.h>

namespace {

using namespace replay;

TEST(SafeText, ShownKeepsTextAndEscapesWhatMovesATerminal) {
  const struct {
    const char* text;
    const char* out;
  } cases[] = {
      {"com.example.app:sync", "com.example.app:sync"},
      {"gr\xc3\xbc\xc3\x9f dich", "gr\xc3\xbc\xc3\x9f dich"},  // UTF-8 stays
      {"a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
      {"\xff\xfe\xc0\xaf", "\\xff\\xfe\\xc0\\xaf"},  // no UTF-8, an overlong '/'
      {"\xc2\x9b"
       "1m",
       "\\xc2\\x9b1m"},  // C1 CSI as UTF-8
      {"\xe2\x80\xae"
       "evil",
       "\\xe2\\x80\\xaeevil"},              // right-to-left override
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, shown(c.text)) << c.text;
  EXPECT_EQ("\xc3\xbc\xc3\xbc", shown("\xc3\xbc\xc3\xbc\xc3\xbc", 5));  // never half a character
}

TEST(SafeText, JsonStringsAreValidWhateverTheBytes) {
  const struct {
    const char* text;
    const char* out;
  } cases[] = {
      {"q\"\\", "\"q\\\"\\\\\""},
      {"</text><script>&", "\"\\u003c/text\\u003e\\u003cscript\\u003e\\u0026\""},
      {"\n\x01\x7f", "\"\\u000a\\u0001\\u007f\""},
      {"\xff"
       "a\xc3",
       "\"\\ufffda\\ufffd\""},
      {"\xe2\x80\xa8\xc3\xbc", "\"\\u2028\\u00fc\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, json_string(c.text)) << c.text;
}

TEST(SafeText, GnuplotTitlesAndFolderNamesKeepOnlyPlainBytes) {
  EXPECT_EQ("?touch R1? (x)", gnuplot_title("`touch R1` (x)"));
  EXPECT_EQ("x??touch R2 ?HOME ?x ???", gnuplot_title("x\n!touch R2 $HOME @x \"'\\"));
  EXPECT_EQ("com.android.chrome:sandboxed_process0", gnuplot_title("com.android.chrome:sandboxed_process0"));
  EXPECT_EQ("x__cd_touch_R3q__", folder_name("x';cd;touch R3q;'"));
  EXPECT_EQ("_.", folder_name(".."));
  EXPECT_EQ("trace", folder_name(""));
  EXPECT_EQ(100u, folder_name(std::string(300, 'a')).size());
}

}  // namespace
