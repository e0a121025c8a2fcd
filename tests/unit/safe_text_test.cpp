#include "safe_text.h"

#include <gtest/gtest.h>

namespace {

using namespace replay;

// The escapes themselves are common's (utf8_test); the cut is the report's.
TEST(SafeText, ShownTakesRawBytesAndIsCutNeverInsideACharacter) {
  EXPECT_EQ("a\\\\b\\n", shown("a\\b\n"));
  EXPECT_EQ("\xc3\xbc\xc3\xbc", shown("\xc3\xbc\xc3\xbc\xc3\xbc", 5));
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
