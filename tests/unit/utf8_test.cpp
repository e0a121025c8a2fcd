#include "utf8.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "json_text.h"
#include "shown_text.h"

namespace {

// Unicode's own data (Debian's unicode-data), not a copy of it.
std::set<char32_t> property_from_unicode_data(const char* property) {
  std::set<char32_t> codes;
  FILE* f = fopen("/usr/share/unicode/PropList.txt", "r");
  if (f == nullptr) return codes;
  char line[512];
  while (fgets(line, sizeof line, f) != nullptr) {
    unsigned first = 0, last = 0;
    char name[64];
    if (sscanf(line, "%x..%x ; %63s", &first, &last, name) == 3 ||
        (sscanf(line, "%x ; %63s", &first, name) == 2 && (last = first, true))) {
      if (std::string(name) == property)
        for (unsigned c = first; c <= last; ++c) codes.insert(c);
    }
  }
  fclose(f);
  return codes;
}

TEST(Utf8, BidiControlsAreUnicodesBidiControlProperty) {
  const std::set<char32_t> unicode = property_from_unicode_data("Bidi_Control");
  ASSERT_FALSE(unicode.empty()) << "no /usr/share/unicode/PropList.txt (package unicode-data)";
  std::set<char32_t> ours;
  for (char32_t c = 0; c < 0x110000; ++c)
    if (is_bidi_control(c)) ours.insert(c);
  EXPECT_EQ(unicode, ours);
  for (char32_t c : unicode) EXPECT_TRUE(is_control_character(c)) << std::hex << static_cast<unsigned>(c);
}

std::string json_body(const std::string& text) {
  std::string out;
  json_string_body(text.data(), text.size(), [&out](const char* data, size_t n) { out.append(data, n); });
  return out;
}

// What reaches the page must pass a javascript: URL unchanged: no '%', and
// nothing the URL parser drops or re-encodes (controls, tabs, non-ASCII).
TEST(Utf8, JsonTextIsPrintableAsciiWithoutPercent) {
  const struct {
    const char* text;
    const char* out;
  } cases[] = {
      {"%22+(pwn=1)+%22", "\\u002522+(pwn=1)+\\u002522"},
      {"a%0Ab %%", "a\\u00250Ab \\u0025\\u0025"},
      {"\"\\/", "\\\"\\\\/"},
      {"</script>&", "\\u003c/script\\u003e\\u0026"},
      {"\t\n\x7f", "\\u0009\\u000a\\u007f"},
      {"gr\xc3\xbc\xc3\x9f", "gr\\u00fc\\u00df"},
      {"\xe2\x80\xa8\xe2\x80\xae\xd8\x9c", "\\u2028\\u202e\\u061c"},
      {"\xf0\x9f\x98\x80", "\\ud83d\\ude00"},                // above U+FFFF: a surrogate pair
      {"\xff\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // no UTF-8, a lone surrogate's bytes
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, json_body(c.text)) << c.text;
  std::string every_byte;
  for (int b = 1; b < 256; ++b) every_byte += static_cast<char>(b);
  for (char c : json_body(every_byte)) {
    EXPECT_TRUE(c >= ' ' && c <= '~') << static_cast<int>(c);
    EXPECT_NE('%', c);
  }
}

// On a terminal, nothing in a name is shown as other text; raw bytes read
// back one way, and kernel log text stays as dmesg shows it.
TEST(Utf8, ShownTextKeepsTextAndEscapesWhatMovesATerminal) {
  const struct {
    const char* text;
    const char* bytes;
    const char* kernel_log;
  } cases[] = {
      {"com.example.app:sync", "com.example.app:sync", "com.example.app:sync"},
      {"gr\xc3\xbc\xc3\x9f dich", "gr\xc3\xbc\xc3\x9f dich", "gr\xc3\xbc\xc3\x9f dich"},  // UTF-8 stays
      {"a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re", "a\\b\\x09c\\x0ad\\x0de"},
      {"a\\x0ab", "a\\\\x0ab", "a\\x0ab"},  // calmd's own escape
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f", "\\x1b[2J\\x7f"},
      {"\xff\xfe\xc0\xaf", "\\xff\\xfe\\xc0\\xaf", "\\xff\\xfe\\xc0\\xaf"},  // no UTF-8, an overlong '/'
      {"\xc2\x9b"
       "1m",
       "\\xc2\\x9b1m", "\\xc2\\x9b1m"},  // C1 CSI as UTF-8
      {"\xe2\x80\xae"
       "evil\xe2\x80\xa8",
       "\\xe2\\x80\\xaeevil\\xe2\\x80\\xa8",
       "\\xe2\\x80\\xaeevil\\xe2\\x80\\xa8"},                  // right-to-left override, line separator
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},  // a surrogate
  };
  for (const auto& c : cases)
    for (const auto& [form, out] :
         {std::pair{shown_form::bytes, c.bytes}, std::pair{shown_form::kernel_log, c.kernel_log}}) {
      std::string shown;
      shown_text_body(c.text, strlen(c.text), form, [&shown](const char* data, size_t n) { shown.append(data, n); });
      EXPECT_EQ(out, shown) << c.text;
    }
}

}  // namespace
