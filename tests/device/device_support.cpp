#include "device_support.h"

#include <sched.h>
#include <unistd.h>

using sandbox::environment_or;

const std::string vmkd_binary = environment_or("VMKD_BINARY", VMKD_BINARY);
const std::string calmd_binary = environment_or("CALMD_BINARY", CALMD_BINARY);
const std::string vmktrace_binary = environment_or("VMKTRACE_BINARY", VMKTRACE_BINARY);
const std::string vmkctl_binary = environment_or("VMKCTL_BINARY", VMKCTL_BINARY);

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

sandbox::spawn_spec app_like(const std::string& command_line, int nice, int policy, bool busy) {
  sandbox::spawn_spec s;
  s.comm = command_line.substr(0, 15);
  s.argv = {command_line};
  s.main_nice = nice;
  s.main_policy = policy;
  s.workers = {{"work", nice, policy, busy, "late"}, {"apart", 10, SCHED_OTHER, false, ""}, {"audio", 0, SCHED_FIFO, false, ""}};
  return s;
}

void expect_in_step(pid_t pid, int nice, int policy, const std::string& why, int rt_priority) {
  EXPECT_EQ(nice, sandbox::nice_of(pid)) << why << ": the main thread";
  EXPECT_EQ(policy, sandbox::policy_of(pid)) << why << ": the main thread";
  const sandbox::thread_state work = sandbox::thread_named(pid, "work");
  EXPECT_NE(0, work.tid) << why;
  EXPECT_EQ(nice, work.nice) << why << ": the thread in step";
  EXPECT_EQ(policy, work.policy) << why << ": the thread in step";
  EXPECT_EQ(rt_priority, work.rt_priority) << why << ": the thread in step";
  const sandbox::thread_state apart = sandbox::thread_named(pid, "apart");
  EXPECT_EQ(10, apart.nice) << why << ": the thread set apart at nice 10";
  EXPECT_EQ(SCHED_OTHER, apart.policy) << why << ": the thread set apart at nice 10";
  const sandbox::thread_state audio = sandbox::thread_named(pid, "audio");
  EXPECT_EQ(0, audio.nice) << why << ": the real-time thread";
  EXPECT_EQ(SCHED_FIFO, audio.policy) << why << ": the real-time thread";
  EXPECT_EQ(1, audio.rt_priority) << why << ": the real-time thread";
}
