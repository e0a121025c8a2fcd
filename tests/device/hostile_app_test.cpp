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

const std::string params = "/data/media/0/vmk_params/";
const std::string reclaim = "/sys/module/process_reclaim/parameters/";

pid_t start_vmkd() { return start_command(vmkd_binary, {vmkd_binary}, std::string(control_dir) + "/vmkd.out"); }

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  return names;
}

// Whether the program names a dynamic loader, so that a preloaded library reaches it.
bool dynamically_linked(const std::string& path) {
  const std::string bytes = read_file(path);
  Elf64_Ehdr header;
  if (bytes.size() < sizeof header || bytes.compare(0, SELFMAG, ELFMAG) != 0 || bytes[EI_CLASS] != ELFCLASS64)
    return false;
  memcpy(&header, bytes.data(), sizeof header);
  for (size_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr entry;
    const size_t at = header.e_phoff + i * header.e_phentsize;
    if (at + sizeof entry > bytes.size()) return false;
    memcpy(&entry, bytes.data() + at, sizeof entry);
    if (entry.p_type == PT_INTERP) return true;
  }
  return false;
}

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

TEST(HostileApp, HardLinksAndSpecialFilesInPlaceOfTheDaemonsFiles) {
  in_sandbox([] {
    write_file("/data/victim", "precious\n");
    chmod("/data/victim", 0600);
    mkdir(params.c_str(), 0777);
    ASSERT_EQ(0, link("/data/victim", (params + "enable_boost").c_str()));
    ASSERT_EQ(0, link("/data/victim", "/data/calmd.lock"));

    // The parameter gets a file of its own; the linked file is neither cut nor opened up.
    start_vmkd();
    EXPECT_TRUE(file_becomes(params + "enable_boost", "0\n", 15000));
    EXPECT_EQ("precious\n", read_file("/data/victim"));
    EXPECT_EQ(0600u, file_mode("/data/victim"));

    // A lock file that is not a plain root-owned file of its own is refused.
    const std::string refused = "calmd: lock file is not open file descriptor!\n";
    const auto expect_refused = [&](const char* what) {
      const command_result r = run_calmd({}, 10000);
      EXPECT_EQ(1, r.status) << what;
      EXPECT_EQ(refused, r.out) << what;
    };
    expect_refused("hard link");
    EXPECT_EQ("precious\n", read_file("/data/victim"));
    unlink("/data/calmd.lock");
    write_file("/data/calmd.lock", "");
    ASSERT_EQ(0, chown("/data/calmd.lock", 10123, 10123));
    expect_refused("owned by an app");
    unlink("/data/calmd.lock");
    ASSERT_EQ(0, mkfifo("/data/calmd.lock", 0666));
    expect_refused("FIFO");
    // Started by a bare name, the forked child meets the FIFO: it must end too.
    const command_result bare = run_command(calmd_binary, {"calmd"}, 10000);
    EXPECT_EQ(0, bare.status);
    EXPECT_NE(std::string::npos, bare.out.find("Daemon started\n")) << bare.out;
    EXPECT_TRUE(wait_for([] { return pids_of_program(calmd_binary).empty(); }, 5000)) << "calmd hangs";
  });
}

TEST(BadDay, FullStorageAtFirstStartLosesNoParameterLong) {
  in_sandbox([] {
    ASSERT_TRUE(fill_file_system("/data/filler"));
    const pid_t vmkd = start_vmkd();
    // The first tuning cycle applies the defaults and leaves no file behind.
    EXPECT_TRUE(file_becomes("/sys/devices/virtual/block/zram0/compact", "1\n", 15000));
    usleep(500000);
    EXPECT_EQ(std::vector<std::string>{}, entries_of(params));
    EXPECT_EQ("16384\n", read_file(reclaim + "swap_pages"));

    // With room again, the next cycle creates each file with its default.
    unlink("/data/filler");
    const std::pair<const char*, const char*> created[] = {
        {"cur_profile", "2\n"},         {"ram.pr.swap_pages", "16384\n"}, {"ram.pr.threshold", "67\n"},
        {"ram.pr.task_min_adj", "0\n"}, {"ram.pr.efficiency", "85\n"},    {"enable_boost", "0\n"},
    };
    for (const auto& [key, text] : created)
      EXPECT_TRUE(file_becomes(params + key, text, 15000)) << key << ": " << read_file(params + key);
    usleep(500000);
    EXPECT_EQ("16384\n", read_file(reclaim + "swap_pages"));
    EXPECT_EQ("67\n", read_file(reclaim + "min_pressure"));
    EXPECT_EQ("85\n", read_file(reclaim + "swap_eff_thr"));
    EXPECT_EQ(std::string::npos, setprop_log().find("reapply 0")) << "profile read as 0";
    EXPECT_EQ(0, waitpid(vmkd, nullptr, WNOHANG)) << "vmkd ended";
  });
}

TEST(BadDay, PassesGoOnWhenTheWallClockStepsBack) {
  if (emulated() || !dynamically_linked(calmd_binary))
    GTEST_SKIP() << "the clock is stepped by a preloaded library, which reaches only a native dynamic calmd";
  sandbox::options o = device_options();
  o.fake_stat = true;
  o.fake_loadavg = true;
  in_sandbox(o, [] {
    // A quiet system: passes come from the clock alone.
    set_proc_stat("cpu  100 0 100 10000 0 0 0 0 0 0\nctxt 1000\n");
    set_proc_loadavg("0.00 0.00 0.00 1/100 1000\n");
    const std::string asan_options = getenv("ASAN_OPTIONS") != nullptr ? getenv("ASAN_OPTIONS") : "";
    // The preloaded library comes before the sanitizer's runtime.
    const std::string preload_options = (asan_options.empty() ? "" : asan_options + ":") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", preload_options.c_str(), 1);
    setenv("LD_PRELOAD", VMK_CLOCK_STEP, 1);
    const pid_t daemon = start_command(calmd_binary, {calmd_binary}, std::string(control_dir) + "/calmd.out");
    unsetenv("LD_PRELOAD");
    setenv("ASAN_OPTIONS", asan_options.c_str(), 1);

    const std::string pass = "[calm]: ___Active";
    EXPECT_TRUE(wait_for([&] { return count_of(kernel_log(), pass) >= 1; }, 5000)) << kernel_log();
    write_file(clock_step_file, "10800\n");  // three hours back, as a network time update may bring
    EXPECT_TRUE(wait_for([&] { return count_of(kernel_log(), pass) >= 2; }, 6000)) << "no pass after the step";
    EXPECT_EQ(0, waitpid(daemon, nullptr, WNOHANG)) << "calmd ended";
  });
}

}  // namespace
