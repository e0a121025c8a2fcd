#include "device_support.h"

#include <unistd.h>

sandbox::options device_options() {
  sandbox::options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  return o;
}

void in_sandbox(const sandbox::options& o, const std::function<void()>& body) {
  const int status = sandbox::run(o, [&] {
    body();
    // A daemon started in the background must not have printed anything (a sanitizer report, say).
    for (const char* output : {"/run/sim/vmkd.out", "/run/sim/calmd.out"})
      EXPECT_EQ("", sandbox::read_file(output)) << output;
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  EXPECT_EQ(0, status) << "the sandboxed part of this case failed (see above), timed out or crashed";
}

std::string value_of(const std::string& path) { return sandbox::read_file(path); }

bool file_becomes(const std::string& path, const std::string& text, int timeout_ms) {
  return sandbox::wait_for([&] { return sandbox::read_file(path) == text; }, timeout_ms);
}

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}
