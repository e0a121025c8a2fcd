// The focused app's name from whatever dumpsys prints, titles and all.
#include <cctype>
#include <cstring>

#include "foreground.h"
#include "fuzz_input.h"

namespace {

struct outcome {
  bool answered;
  char token[focus_token_size];
};

outcome scan(dumpsys_form form, const std::string& output, size_t piece) {
  focus_scan s;
  begin_focus_scan(&s, form);
  for (size_t at = 0; at < output.size(); at += piece)
    feed_focus_scan(&s, output.data() + at, std::min(piece, output.size() - at));
  outcome o;
  o.answered = end_focus_scan(&s, o.token);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const dumpsys_form form = data[0] & 1 ? dumpsys_form::displays : dumpsys_form::window_listing;
  const std::string output(reinterpret_cast<const char*>(data) + 1, size - 1);
  const outcome whole = scan(form, output, output.size() + 1);
  // However the pipe cuts the output, the answer is the same.
  const outcome pieces = scan(form, output, 1 + data[0] % 7);
  FUZZ_CHECK(whole.answered == pieces.answered && strcmp(whole.token, pieces.token) == 0);
  FUZZ_CHECK(strlen(whole.token) < focus_token_size);
  FUZZ_CHECK(whole.answered || whole.token[0] == '\0');
  char name[foreground_name_size] = "previous.app";
  foreground_from_token(whole.token, name);
  const size_t length = strlen(name);
  // Empty or a package name: never a window title that could match other processes.
  FUZZ_CHECK(length == 0 || is_package_name(name));
  for (size_t i = 0; i < length; ++i) FUZZ_CHECK(!isspace(static_cast<unsigned char>(name[i])));
  // No focus line at all: the output names nothing.
  if (output.find("  mCurrentFocus=") == std::string::npos) FUZZ_CHECK(!whole.answered);
  return 0;
}
