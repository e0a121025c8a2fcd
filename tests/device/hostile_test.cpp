// Processes that try to confuse the daemons: strange names and command lines,
// renaming, ending mid-pass, pid reuse, and more processes than a pass lists.
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device_support.h"

namespace {

using namespace sandbox;

const std::vector<spawn_spec>& hostile_processes() {
  static const std::vector<spawn_spec> list = {
      {"two words", {"two words", "and more"}},
      {"x) 1 2 (y", {"x) 1 2 (y"}},
      {"a\nb", {"line\nbreak"}},
      {"%s%n%s%n", {"%s%n%s%n"}},
      {"evil[f]", {"evil[f]"}},
      {"abcdefghijklmnopqrstuvwxyz", {"abcdefghijklmnopqrstuvwxyz"}},
      {"\xff\xfe\x80", {"\xff\xfe\x80", "\xc3\x28"}},
      {"long", {std::string(4096, 'L')}},
  };
  return list;
}

TEST(Hostile, StrangeNamesAreThrottledAndLoggedAsOneExactRecordEach) {
  in_sandbox([] {
    std::vector<pid_t> pids;
    for (const spawn_spec& s : hostile_processes()) {
      pids.push_back(spawn(s));
      set_nice(pids.back(), 7);
    }
    const command_result r = run_calmd({"-s"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_TRUE(wait_for([] { return count_of(kernel_log(), "): => 7>3 (0>0)\n") >= 8; }, 3000)) << kernel_log();
    const std::string log = kernel_log();
    for (size_t i = 0; i < pids.size(); ++i) {
      EXPECT_EQ(3, nice_of(pids[i])) << hostile_processes()[i].comm;
      std::string name = comm_of(pids[i]);  // as logged: a newline would split the line in dmesg
      for (size_t at; (at = name.find('\n')) != std::string::npos;) name.replace(at, 1, "\\x0a");
      const std::string line = "[calm]: " + name + " (" + std::to_string(pids[i]) + "): => 7>3 (0>0)\n";
      EXPECT_EQ(1, count_of(log, line)) << line;
    }
    // A marker in a name is data, not a request for the log file.
    EXPECT_FALSE(exists("/data/media/0/calmd.log"));
  });
}

TEST(Hostile, NamesChooseOnlyTheProcessesThatHoldThem) {
  in_sandbox([] {
    std::vector<pid_t> pids;
    for (const spawn_spec& s : hostile_processes()) pids.push_back(spawn(s));
    EXPECT_EQ(0, run_calmd({"-t", ") 1 2 (", "5", "0", "0"}).status);
    EXPECT_EQ(0, run_calmd({"-t", "%s%n", "6", "0", "0"}).status);
    for (size_t i = 0; i < pids.size(); ++i) {
      const int expected = i == 1 ? 5 : i == 3 ? 6 : 0;
      EXPECT_EQ(expected, nice_of(pids[i])) << hostile_processes()[i].comm;
    }
    // The nice applier reads the same texts: only "logd" inside garbage counts.
    const pid_t logd = spawn({"\xff(logd)\n", {"\xff\xfe", "x) logd"}});
    const pid_t almost = spawn({"log d", {"lo gd", "l\nogd"}});
    const pid_t main_pid = start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out");
    EXPECT_TRUE(wait_for([&] { return nice_of(logd) == 19; }, 8000));
    EXPECT_EQ(0, nice_of(almost));
    EXPECT_EQ(0, nice_of(pids[7]));  // 4096 bytes of "L" hold no pattern
    EXPECT_EQ(0, waitpid(main_pid, nullptr, WNOHANG)) << "vmkd ended";
  });
}

TEST(Hostile, RenamingEndingAndReusedProcessesDuringPasses) {
  in_sandbox([] {
    const pid_t renamer = spawn({"ksmd", {"renamer"}, false, "", false, "kworker/0:0H"});
    set_nice(renamer, 9);
    // A stream of processes that end at once, so many end between listing and reading.
    const pid_t churn = fork();
    if (churn == 0) {
      for (;;) {
        const pid_t child = fork();
        if (child == 0) _exit(0);
        waitpid(child, nullptr, 0);
        usleep(500);  // leave the machine to the rest of the suite
      }
    }
    const pid_t daemon = start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
    for (int round = 0; round < 5; ++round) {
      // Reuse a pid while a pass samples: kill a process, start another at its pid.
      const pid_t victim = spawn({"victim", {"victim"}});
      set_nice(victim, 7);
      const pid_t pass = start_command(calmd_binary, {calmd_binary, "-s"}, std::string(control_dir) + "/pass.out");
      usleep(static_cast<useconds_t>(20000 + round * 20000));
      stop(victim);
      spawn_at(victim, {"reborn", {"reborn"}});
      int status = -1;
      EXPECT_TRUE(wait_for([&] { return waitpid(pass, &status, WNOHANG) == pass; }, 20000));
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    stop(churn);
    EXPECT_EQ(0, waitpid(daemon, nullptr, WNOHANG)) << "the daemon ended";
    EXPECT_EQ("", read_file(std::string(control_dir) + "/pass.out"));
    // Whatever name it had when read, the renamer has a program file: the
    // decision table moved it, never into a real-time class.
    const int policy = policy_of(renamer);
    EXPECT_TRUE(policy == SCHED_OTHER || policy == SCHED_BATCH || policy == SCHED_IDLE) << policy;
  });
}

TEST(Hostile, MoreProcessesThanAPassListsLong) {
  sandbox::options o = device_options();
  o.timeout_seconds = 280;  // starting 4200 processes takes a while, more under emulation
  in_sandbox(o, [] {
    std::vector<pid_t> pids;
    for (size_t n = all_pids().size(); n < 4200; ++n) {
      pids.push_back(spawn({"many", {"many"}}));
      set_nice(pids.back(), 7);
    }
    EXPECT_EQ(0, run_calmd({"-s"}, 120000).status);
    // /proc lists pids in ascending order: the first are examined, the last are past the 4096th.
    EXPECT_EQ(3, nice_of(pids.front()));
    EXPECT_EQ(7, nice_of(pids.back()));
    EXPECT_EQ(0, run_calmd({"-t", "many", "2", "0", "0"}, 120000).status);
    EXPECT_EQ(2, nice_of(pids.back()));
  });
}

}  // namespace
