#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arguments.h"

namespace {

TEST(RecorderArguments, TakesWholeNumbersAndRefusesTheRest) {
  struct {
    std::vector<const char*> args;
    const char* error;  // nullptr: accepted
    int seconds, period, processes;
  } const cases[] = {
      {{"--seconds", "60"}, nullptr, 60, 50, 1000},
      {{"--period-ms", "100", "--seconds", "5", "--processes-every-ms", "500"}, nullptr, 5, 100, 500},
      {{}, "--seconds is required"},
      {{"--seconds"}, "--seconds needs a value"},
      {{"--seconds", "0"}, "--seconds takes a whole number from 1 to 86400, not \"0\""},
      {{"--seconds", "10s"}, "--seconds takes a whole number"},
      {{"--seconds", "-5"}, "--seconds takes a whole number"},
      {{"--seconds", "010"}, "--seconds takes a whole number"},  // octal to the parameter files
      {{"--seconds", "5", "--period-ms", "5"}, "--period-ms takes a whole number from 10 to 60000"},
      {{"--seconds", "5", "--period-ms", "200", "--processes-every-ms", "100"},
       "--processes-every-ms (100) is shorter than --period-ms (200)"},
      {{"--seconds", "5", "--output", "x"}, "unknown argument \"--output\""},
      {{"--status", "--json", "--kernel-log", "/tmp/log"}, nullptr, 0, 50, 1000},
      {{"--live", "--seconds", "3"}, nullptr, 3, 50, 1000},
      {{"--status", "--live"}, "--live: one of --status, --live and --description at a time"},
      {{"--status", "--seconds", "3"}, "--seconds goes with --live"},
      {{"--description", "--json"}, "--json goes with --status or --live"},
      {{"--description", "--no-dumpsys"}, "--no-dumpsys goes with --status or --live"},
      {{"--status", "--since", "1,2,3,4,5"}, nullptr, 0, 50, 1000},
      {{"--live", "--since", "1,2,3,4,5"}, "--since goes with --status"},
      {{"--status", "--since", "1,2,3,4"}, "--since takes five whole numbers joined by commas, not \"1,2,3,4\""},
      {{"--status", "--since", "1,2,3,4,5,"}, "--since takes five whole numbers"},
      {{"--status", "--since", "1,2,3,4,-5"}, "--since takes five whole numbers"},
      {{"--status", "--since", "1,2,3,4,5;reboot"}, "--since takes five whole numbers"},
      {{"--status", "--since", "1,2,3,4,123456789012345678901"}, "--since takes five whole numbers"},
      {{"--seconds", "5", "--no-dumpsys"}, "--no-dumpsys goes with --status or --live"},
      {{"--seconds", "5", "--json"}, "--json goes with --status, --live or --description"},
      {{"--live", "--period-ms", "100"}, "--period-ms: the periods are a recording's"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"vmktrace"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    recorder_options o;
    char error[160] = "";
    const bool ok = parse_recorder_arguments(static_cast<int>(argv.size()), argv.data(), &o, error, sizeof error);
    if (c.error == nullptr) {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(c.seconds, o.seconds);
      EXPECT_EQ(c.period, o.period_ms);
      EXPECT_EQ(c.processes, o.processes_every_ms);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(0u, std::string(error).find(c.error)) << error;
    }
  }
}

}  // namespace
