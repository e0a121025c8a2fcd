#include "device_support.h"

#include <unistd.h>

#include <cstdlib>

namespace {

std::string from_environment(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

}  // namespace

const std::string vmkd_binary = from_environment("VMKD_BINARY", VMKD_BINARY);
const std::string calmd_binary = from_environment("CALMD_BINARY", CALMD_BINARY);
const std::string vmktrace_binary = from_environment("VMKTRACE_BINARY", VMKTRACE_BINARY);
const std::string vmkctl_binary = from_environment("VMKCTL_BINARY", VMKCTL_BINARY);

bool emulated() { return !from_environment("VMK_EMULATOR", "").empty(); }

sandbox::options device_options() {
  sandbox::run_under_emulator(from_environment("VMK_EMULATOR", ""),
                              {vmkd_binary, calmd_binary, vmktrace_binary, vmkctl_binary});
  sandbox::options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  for (const std::string& binary : {vmkd_binary, calmd_binary, vmktrace_binary, vmkctl_binary})
    if (binary.rfind(VMK_BUILD_DIR "/", 0) != 0) o.read_only_binds.push_back(folder_of(binary));
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

sandbox::command_result run_calmd(const std::vector<std::string>& args, int timeout_ms) {
  std::vector<std::string> argv = {calmd_binary};
  argv.insert(argv.end(), args.begin(), args.end());
  return sandbox::run_command(calmd_binary, argv, timeout_ms);
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
