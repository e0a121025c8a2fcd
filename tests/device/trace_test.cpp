// The recorder and the replay of recorded load.
#include "device_support.h"

namespace {

TEST(Vmktrace, RefusesBadArgumentsWithAMessage) {
  device_options();  // the emulator, where the binaries need one
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "vmktrace: --seconds is required\nusage: vmktrace --seconds N"},
      {{"--seconds", "ten"}, "vmktrace: --seconds takes a whole number from 1 to 86400, not \"ten\"\n"},
      {{"--seconds", "1", "--period-ms", "0"}, "vmktrace: --period-ms takes a whole number from 10 to 60000"},
      {{"--seconds", "1", "-o", "/tmp/x"}, "vmktrace: unknown argument \"-o\"\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {vmktrace_binary};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const sandbox::command_result r = sandbox::run_command(vmktrace_binary, argv);
    EXPECT_EQ(1, r.status) << c.message;
    EXPECT_EQ(0u, r.err.find(c.message)) << r.err;
    EXPECT_EQ("", r.out);
  }
}

}  // namespace
