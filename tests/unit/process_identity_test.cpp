#include "process_identity.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string comm_of(const std::string& bytes) {
  char text[comm_text_size];
  comm_text_from(bytes.data(), static_cast<long>(bytes.size()), text);
  return text;
}

std::string cmdline_of(std::string bytes, long count) {
  char text[cmdline_text_size];
  cmdline_text_from(bytes.data(), count, text);
  return text;
}

TEST(ProcessTexts, NulsBecomeBlanksAndNothingReadGivesNull) {
  EXPECT_EQ("logd", comm_of("logd\n"));
  EXPECT_EQ("(null)", comm_of(""));
  EXPECT_EQ("/system/bin/logd ", cmdline_of(std::string("/system/bin/logd\0", 17), 17));
  EXPECT_EQ("a b ", cmdline_of(std::string("a\0b\0", 4), 4));
  EXPECT_EQ("(null)", cmdline_of("", 0));
  EXPECT_EQ("(null)", cmdline_of("", -1));
  EXPECT_EQ("x y", cmdline_of(std::string("x\0y\n", 4), 4));
}

TEST(ProcessTexts, PpidNeedsSixtyFourBytesAndAPpidLine) {
  struct {
    std::string text;
    int ppid;
  } const cases[] = {
      {"Name:\tsurfaceflinger\nUmask:\t0077\nState:\tS (sleeping)\nTgid:\t9\nNgid:\t0\nPid:\t9\nPPid:\t1234\n", 1234},
      {"Name:\tx\nPPid:\t77\n", 0},  // shorter than 64 bytes
      {"Name:\tverylongname-verylongname-verylongname\nState:\tS (sleeping)\nPid:\t9\n", 0},
      {"Name:\tverylongname-verylongname-verylongname\nState:\tS (sleeping)\nPPid:\tzz\n", 0},
  };
  for (const auto& c : cases) {
    char bytes[129] = {};
    memcpy(bytes, c.text.data(), c.text.size());
    EXPECT_EQ(c.ppid, ppid_from_status(bytes, static_cast<long>(c.text.size()))) << c.text;
  }
}

// A child that renames itself and waits, with a chosen command line.
pid_t start_child(const char* name, const char* const argv[]) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argv == nullptr) {
      prctl(PR_SET_NAME, name);
      if (write(ready[1], "x", 1) < 0) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    execv(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  close(ready[1]);
  char c;
  if (argv == nullptr && read(ready[0], &c, 1) != 1) return -1;
  close(ready[0]);
  if (argv != nullptr) usleep(200000);
  return pid;
}

void stop_child(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(ProcessIdentity, ReadsALiveProcess) {
  const pid_t pid = start_child("logd", nullptr);
  char comm[comm_text_size], cmdline[cmdline_text_size];
  EXPECT_EQ(5, read_comm(comm, pid));
  EXPECT_STREQ("logd", comm);
  EXPECT_GT(read_cmdline(cmdline, pid), 0);
  EXPECT_EQ(getpid(), read_ppid(pid));
  stop_child(pid);
}

TEST(ProcessIdentity, LongCommandLineIsCutAt256Bytes) {
  const std::string long_arg(300, 'z');
  // The sleep must not hold the test's output open after the shell is killed.
  const char* const argv[] = {"/bin/sh", "-c", "sleep 5 >/dev/null 2>&1; :", long_arg.c_str(), nullptr};
  const pid_t pid = start_child(nullptr, argv);
  char cmdline[cmdline_text_size];
  EXPECT_EQ(256, read_cmdline(cmdline, pid));
  const std::string script = "/bin/sh -c sleep 5 >/dev/null 2>&1; : ";
  const std::string expected = script + std::string(256 - script.size(), 'z');
  EXPECT_EQ(expected, cmdline);
  stop_child(pid);
}

TEST(ProcessIdentity, ZombieAndMissingProcessesGiveFallbacks) {
  const pid_t zombie = fork();
  if (zombie == 0) {
    prctl(PR_SET_NAME, "kthreadish");
    _exit(0);
  }
  usleep(100000);
  char comm[comm_text_size], cmdline[cmdline_text_size];
  EXPECT_EQ(0, read_cmdline(cmdline, zombie));
  EXPECT_STREQ("(null)", cmdline);
  read_comm(comm, zombie);
  EXPECT_STREQ("kthreadish", comm);
  waitpid(zombie, nullptr, 0);

  EXPECT_EQ(-1, read_comm(comm, zombie));
  EXPECT_STREQ("(null)", comm);
  EXPECT_EQ(-1, read_cmdline(cmdline, zombie));
  EXPECT_STREQ("(null)", cmdline);
  EXPECT_EQ(0, read_ppid(zombie));
  EXPECT_EQ(0, read_ppid(1));  // the first process's parent is the kernel
}

}  // namespace
