#include "device_support.h"

#include <unistd.h>

using sandbox::environment_or;

const std::string vmkd_binary = environment_or("VMKD_BINARY", VMKD_BINARY);
const std::string calmd_binary = environment_or("CALMD_BINARY", CALMD_BINARY);
const std::string vmktrace_binary = environment_or("VMKTRACE_BINARY", VMKTRACE_BINARY);
const std::string vmkctl_binary = environment_or("VMKCTL_BINARY", VMKCTL_BINARY);

static const bool standin_given = (sandbox::set_standin_program(SB_PROC_BINARY), true);

bool emulated() { return !environment_or("VMK_EMULATOR", "").empty(); }

sandbox::options device_options() {
  sandbox::run_under_emulator(environment_or("VMK_EMULATOR", ""),
                              {vmkd_binary, calmd_binary, vmktrace_binary, vmkctl_binary});
  sandbox::options o;
  o.read_only_binds =
      sandbox::program_binds(VMK_BUILD_DIR, {vmkd_binary, calmd_binary, vmktrace_binary, vmkctl_binary});
  return o;
}

void in_sandbox(const sandbox::options& o, const std::function<void()>& body) {
  const int status = sandbox::run(o, [&] {
    body();
    // A daemon started in the background must not have printed anything (a sanitizer report, say).
    for (const char* name : {"/vmkd.out", "/calmd.out"}) {
      const std::string output = sandbox::control_dir + std::string(name);
      EXPECT_EQ("", sandbox::read_file(output)) << output;
    }
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

void expect_in_step(pid_t pid, int nice, int policy, const std::string& why, int rt_priority) {
  EXPECT_EQ("", sandbox::out_of_step(pid, nice, policy, rt_priority)) << why;
}
