// What a hostile app or a phone's bad day brings: processes named like kernel
// threads, hard links and special files where the daemons keep their files,
// a full disk at the first start, and a wall clock stepped back by hours.
#include <dirent.h>
#include <elf.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "device_support.h"

namespace {

using namespace sandbox;

TEST(HostileApp, KernelThreadNamesGiveAProgramNothingSpecial) {
  in_sandbox([] {
    // Idle processes with a program file, named as kernel threads are: a
    // rename is all it takes.
    const std::vector<std::string> names = {"kworker/u9:1", "kworker/2:0H", "kworker/3:1", "kbase_event", "ksmd"};
    std::vector<pid_t> impostors;
    for (const std::string& name : names) {
      impostors.push_back(spawn({name}));
      set_nice(impostors.back(), 7);
    }
    EXPECT_EQ(0, run_calmd({"-s"}).status);
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(3, nice_of(impostors[i])) << names[i];  // the decision table for an idle process
      EXPECT_EQ(SCHED_OTHER, policy_of(impostors[i])) << names[i];
    }
    // "-r" keeps nice 4 for the kernel's ksmd; "-rk" resets kernel threads,
    // not a program whose command line reads as nothing.
    const pid_t blank = spawn_without_command_line("kworker/1:1");
    ASSERT_GT(blank, 0);
    set_nice(blank, 7);
    EXPECT_EQ(0, run_calmd({"-rk"}).status);
    EXPECT_EQ(7, nice_of(blank));
    EXPECT_EQ(0, run_calmd({"-r"}).status);
    EXPECT_EQ(0, nice_of(impostors.back()));
  });
}

}  // namespace
