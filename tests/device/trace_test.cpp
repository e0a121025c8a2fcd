// The recorder and the replay of recorded load.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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

std::string fresh_dir() {
  char pattern[] = "/tmp/vmk-replay.XXXXXX";
  return mkdtemp(pattern);
}

// Runs the replay program (it builds its own sandbox) on a trace.
sandbox::command_result replay(const std::string& trace, const std::string& out_dir) {
  device_options();
  return sandbox::run_command(REPLAY_BINARY, {REPLAY_BINARY, trace, "--out", out_dir}, 280000);
}

std::string report_line(const std::string& report, const std::string& start) {
  const size_t at = report.find(start);
  return at == std::string::npos ? "" : report.substr(at, report.find('\n', at) - at);
}

TEST(Replay, GeneratedTraceReachesEveryBandAndRuleLong) {
  const std::string dir = fresh_dir();
  const sandbox::command_result r = replay(TRACES_DIR "/generated.txt", dir);
  EXPECT_EQ(0, r.status) << r.out << r.err;
  const std::string report = sandbox::read_file(dir + "/report.txt");
  EXPECT_NE(std::string::npos, report.find(" 0 disagree with what vmkd wrote")) << report_line(report, "  ");
  EXPECT_NE(std::string::npos, report.find(" 0 not what its table gives"));
  EXPECT_EQ(std::string::npos, report.find("out of step")) << report_line(report, "  stand-in");
  const std::string bands = report_line(report, "  bands:");
  for (int band = 1; band <= 8; ++band)
    EXPECT_EQ(std::string::npos, bands.find(" " + std::to_string(band) + ":0")) << bands;
  const std::string rules = report_line(report, "  rules:");
  for (const char* rule : {"band", "busy", "raise", "activity"})
    EXPECT_EQ(std::string::npos, rules.find(std::string(rule) + ":0")) << rules;
  // The pictures and the trace events are there too.
  for (const char* output : {"/timeline.png", "/timeline.svg", "/timeline.json"})
    EXPECT_TRUE(sandbox::exists(dir + output)) << output;
  EXPECT_EQ(0u, sandbox::read_file(dir + "/timeline.json").find("{\"traceEvents\":["));
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(Replay, RecordedTraceRoundTripsAndReplaysWithoutDisagreementLong) {
  // Recorded in a sandbox beside a busy process; the trace comes back through a memory file.
  const int trace_fd = memfd_create("recorded", 0);
  ASSERT_GE(trace_fd, 0);
  in_sandbox([&] {
    sandbox::spawn({"example.busy", {"com.example.busy"}, true});
    const sandbox::command_result r =
        sandbox::run_command(vmktrace_binary, {vmktrace_binary, "--seconds", "4", "--period-ms", "50"}, 30000);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(static_cast<ssize_t>(r.out.size()), write(trace_fd, r.out.data(), r.out.size()));
  });
  const std::string dir = fresh_dir();
  std::string trace(1 << 20, '\0');
  const ssize_t n = pread(trace_fd, trace.data(), trace.size(), 0);
  close(trace_fd);
  ASSERT_GT(n, 0);
  trace.resize(static_cast<size_t>(n));
  EXPECT_NE(std::string::npos, trace.find("\tcom.example.busy \t"));
  std::ofstream(dir + "/recorded.txt") << trace;
  const sandbox::command_result r = replay(dir + "/recorded.txt", dir);
  EXPECT_EQ(0, r.status) << r.out << r.err;
  const std::string report = sandbox::read_file(dir + "/report.txt");
  EXPECT_NE(std::string::npos, report.find(" 0 disagree with what vmkd wrote")) << report;
  EXPECT_EQ(std::string::npos, report.find(" 0 cycles explained")) << report;
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(Replay, RefusesAMalformedTraceWithItsLineAndStartsNothing) {
  const std::string good = sandbox::read_file(TRACES_DIR "/generated.txt");
  const std::string header = good.substr(0, good.find('\n') + 1);
  const std::string rows = good.substr(header.size(), 4000);
  const std::string first_rows = rows.substr(0, rows.rfind('\n') + 1);
  // The first system row, moved far ahead: the rows after it go back in time.
  const size_t s_row = first_rows.find("S\t");
  const std::string system_row = first_rows.substr(s_row, first_rows.find('\n', s_row) + 1 - s_row);
  const std::string later = "S\t99999" + system_row.substr(system_row.find('\t', 2));
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"vmktrace 2" + header.substr(10) + first_rows, ":1: format version 2 is not supported"},
      {header.substr(0, header.find(",focus")) + header.substr(header.find(",focus") + 6) + first_rows,
       ":1: S rows lack the column \"focus\""},
      {header + later + first_rows, "goes back before the previous row's 99999 ms"},
  };
  for (const auto& c : cases) {
    const std::string dir = fresh_dir();
    std::ofstream(dir + "/bad.txt") << c.text;
    const sandbox::command_result r = replay(dir + "/bad.txt", dir + "/out");
    EXPECT_EQ(2, r.status) << r.err;
    std::string error = r.err;
    for (size_t at; (at = error.find(": line ")) != std::string::npos;) error.replace(at, 7, ":");
    EXPECT_NE(std::string::npos, error.find(c.error)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("nothing was started")) << r.err;
    EXPECT_FALSE(sandbox::exists(dir + "/out")) << "an output folder was made";
    std::system(("rm -rf '" + dir + "'").c_str());
  }
}

}  // namespace
