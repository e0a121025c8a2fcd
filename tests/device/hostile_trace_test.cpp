// A trace is hostile input: its names come from apps, its file from anyone.
#include <ftw.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "device_support.h"
#include "trace_format.h"

namespace {

std::string fresh_dir() {
  char pattern[] = "/tmp/vmk-hostile.XXXXXX";
  return mkdtemp(pattern);
}

void remove_tree(const std::string& dir) {
  nftw(
      dir.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

// Names that would run a command, end a line or break out of a quoted text
// in gnuplot, SVG, JSON or a terminal.
const char* const hostile_names[] = {
    "`touch R1`",       // gnuplot runs backquoted text
    "x\n!touch R2",     // a new gnuplot line, and '!' runs a shell
    "</text><script>",  // the SVG
    "q\"\\\"@x $HOME",  // quotes, backslash, a macro
    "\xff\xfe bad",     // no UTF-8
    "\x1b[2Jclear",     // a terminal's escape sequence
};

// The first system rows of the bundled generated trace, up to the time given.
std::vector<std::pair<long long, std::string>> generated_rows(long long until_ms, std::string* header) {
  const std::string good = sandbox::read_file(TRACES_DIR "/generated.txt");
  *header = good.substr(0, good.find('\n') + 1);
  std::vector<std::pair<long long, std::string>> rows;
  for (size_t at = header->size(); at < good.size();) {
    const size_t end = good.find('\n', at);
    const std::string line = good.substr(at, end - at + 1);
    at = end + 1;
    const long long time_ms = atoll(line.c_str() + 2);
    if (line.compare(0, 2, "S\t") == 0 && time_ms <= until_ms) rows.emplace_back(time_ms, line);
  }
  return rows;
}

// 3 s of the generated trace, and one busy process per hostile name.
std::string hostile_trace() {
  std::string text;
  std::vector<std::pair<long long, std::string>> rows = generated_rows(3000, &text);
  for (long long time_ms : {0, 1000, 2000, 3000}) {
    int pid = 900;
    for (const char* name : hostile_names) {
      trace::process_row p;
      p.time_ms = time_ms;
      p.pid = pid++;
      p.ppid = 1;
      snprintf(p.comm, sizeof p.comm, "%s", name);
      snprintf(p.cmdline, sizeof p.cmdline, "%s --from-a-hostile-app ", name);
      p.utime = time_ms / 20;  // half a core
      char row[1024];
      EXPECT_GT(trace::format_process_row(p, row, sizeof row), 0);
      rows.emplace_back(time_ms, row);
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& row : rows) text += row.second;
  return text;
}

// Every file under dir, and the bytes no report or terminal should get.
std::vector<std::string> files_under(const std::string& dir) {
  static std::vector<std::string>* found;
  std::vector<std::string> all;
  found = &all;
  nftw(
      dir.c_str(),
      [](const char* path, const struct stat*, int, FTW*) {
        found->push_back(path);
        return 0;
      },
      16, FTW_PHYS);
  return all;
}

bool printable_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\n') return false;
    if (c == 0x7f) return false;
    if (c < 0x80) continue;
    const size_t length = (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
    i += length - 1;
  }
  return true;
}

TEST(HostileTrace, NamesAndFileNamesStayTextInEveryOutputLong) {
  device_options();
  const std::string dir = fresh_dir();
  const std::string home = dir + "/home";
  mkdir(home.c_str(), 0755);
  setenv("HOME", home.c_str(), 1);
  const std::string trace = dir + "/x';cd;touch R3q;'.txt";
  std::ofstream(trace) << hostile_trace();
  // Replayed into a plain folder (the names alone), into one named with a
  // quote, ';', $() and a newline, and into the one the replay names after
  // the trace file.
  const std::string plain = dir + "/plain", out = dir + "/out'; touch R4;$(touch R5)\nR6";
  const std::string named = VMK_BUILD_DIR "/replay/x__cd_touch_R3q__";
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--out", plain}, std::vector<std::string>{"--out", out}, {}}) {
    std::vector<std::string> argv = {REPLAY_BINARY, trace};
    argv.insert(argv.end(), options.begin(), options.end());
    const sandbox::command_result r = sandbox::run_command_in(dir, REPLAY_BINARY, argv, 280000);
    EXPECT_EQ(0, r.status) << r.out << r.err;
    EXPECT_TRUE(printable_utf8(r.out)) << r.out;
  }
  // Nothing ran: no file but the replay's own outputs.
  for (const std::string& root : {dir, named})
    for (const std::string& path : files_under(root))
      EXPECT_EQ(std::string::npos, path.find("/R", path.rfind('/'))) << path << " was made";
  EXPECT_EQ(1u, files_under(home).size()) << "files appeared in the home folder";
  for (const std::string& output : {plain, out, named}) {
    const std::string report = sandbox::read_file(output + "/report.txt");
    EXPECT_TRUE(printable_utf8(report)) << report;
    EXPECT_NE(std::string::npos, report.find("x\\n!touch R2")) << report;
    EXPECT_NE(std::string::npos, report.find("\\xff\\xfe bad")) << report;
    const std::string script = sandbox::read_file(output + "/timeline.gp");
    const size_t titles = script.find("plot 'process0.dat'");
    ASSERT_NE(std::string::npos, titles) << script;
    const std::string nice_plot = script.substr(titles, script.find('\n', titles) - titles);
    EXPECT_EQ(std::string::npos, nice_plot.find_first_of("`!$@\\")) << nice_plot;
    EXPECT_NE(std::string::npos, nice_plot.find("title \"?touch R1? (900)\"")) << nice_plot;
    const std::string svg = sandbox::read_file(output + "/timeline.svg");
    EXPECT_EQ(std::string::npos, svg.find("<script")) << "the SVG holds a script element";
    EXPECT_EQ(0, sandbox::run_command("xmllint", {"xmllint", "--noout", output + "/timeline.svg"}).status);
    const sandbox::command_result json =
        sandbox::run_command("jq", {"jq", "-e", ".traceEvents | length > 0", output + "/timeline.json"});
    EXPECT_EQ(0, json.status) << json.err;
    EXPECT_TRUE(printable_utf8(sandbox::read_file(output + "/timeline.json")));
  }
  remove_tree(dir);
  remove_tree(named);
}

TEST(HostileTrace, UnboundedTracesAreRefusedBeforeAnythingStarts) {
  device_options();
  std::string header;
  const std::vector<std::pair<long long, std::string>> rows = generated_rows(1000, &header);
  std::string start = header;
  for (size_t i = 0; i < 7; ++i) start += rows[i].second;  // the header and seven rows
  const std::string tail = rows[7].second.substr(rows[7].second.find('\t', 2));
  std::string many_processes = header;
  for (int pid = 2; pid < 4200; ++pid)
    many_processes += "P\t0\t" + std::to_string(pid) + "\t1\tp\tp \t0\t0\t0\t0\t0\t0\n";
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      // Nine lines, the last at the latest time the format holds: 10^12 s of load.
      {start + "S\t1125899906842624" + tail, "line 9: time 1125899906842624 ms is past the longest trace"},
      {start + "S\t600000" + tail, "line 9: time 600000 ms is more than 120 s after the previous row's"},
      {many_processes, "line 4098: more than 4096 processes"},
  };
  for (const auto& c : cases) {
    const std::string dir = fresh_dir();
    std::ofstream(dir + "/t.txt") << c.text;
    const sandbox::command_result r =
        sandbox::run_command(REPLAY_BINARY, {REPLAY_BINARY, dir + "/t.txt", "--out", dir + "/out"}, 20000);
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.error)) << r.err;
    EXPECT_FALSE(sandbox::exists(dir + "/out"));
    remove_tree(dir);
  }
}

// What a process can put in its name and command line comes out escaped:
// every line of the trace is one row, and each reads back as it was.
TEST(HostileTrace, RecordedNamesCannotForgeRows) {
  const int trace_fd = memfd_create("recorded", 0), pids_fd = memfd_create("pids", 0);
  ASSERT_GE(trace_fd, 0);
  ASSERT_GE(pids_fd, 0);
  const std::vector<std::pair<std::string, std::vector<std::string>>> processes = {
      {"nl\nS\t0\t1", {"com.evil\nE\t1\t1", "P\t5"}},
      {"tab\tback\\x41", {"\\t\\n", "\x01\x7f\x1b[2J"}},
      {"\xff\xfe\x80", {"\xc0\xaf", " "}},
  };
  in_sandbox([&] {
    // The trace, and after it the pids in the order of the list.
    std::string pids;
    for (const auto& [name, argv] : processes) pids += std::to_string(sandbox::spawn({name, argv})) + " ";
    const sandbox::command_result r =
        sandbox::run_command(vmktrace_binary, {vmktrace_binary, "--seconds", "1", "--period-ms", "200"}, 30000);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(static_cast<ssize_t>(r.out.size()), write(trace_fd, r.out.data(), r.out.size()));
    EXPECT_EQ(static_cast<ssize_t>(pids.size()), write(pids_fd, pids.data(), pids.size()));
  });
  char text[1 << 16];
  const ssize_t n = pread(trace_fd, text, sizeof text - 1, 0);
  ASSERT_GT(n, 0);
  const std::string trace(text, static_cast<size_t>(n));
  char pid_text[256] = {};
  ASSERT_GT(pread(pids_fd, pid_text, sizeof pid_text - 1, 0), 0);
  close(trace_fd);
  close(pids_fd);
  std::vector<int> pids;
  for (char *at = pid_text, *end;; at = end) {
    const long pid = strtol(at, &end, 10);
    if (end == at) break;
    pids.push_back(static_cast<int>(pid));
  }

  trace::header h;
  char error[trace::error_size];
  size_t at = trace.find('\n');
  ASSERT_TRUE(trace::parse_header(trace.substr(0, at).c_str(), 1, &h, error)) << error;
  int line_number = 1, rows_of_theirs = 0;
  long long previous = 0;
  for (++at; at < trace.size(); at = trace.find('\n', at) + 1) {
    const std::string line = trace.substr(at, trace.find('\n', at) - at);
    trace::row r;
    ASSERT_TRUE(trace::parse_row(line.c_str(), ++line_number, h, previous, &r, error)) << error << "\n"
                                                                                       << line.substr(0, 200);
    previous = r.what == trace::kind::system  ? r.system.time_ms
               : r.what == trace::kind::ended ? r.ended.time_ms
                                              : r.process.time_ms;
    if (r.what != trace::kind::process) continue;
    size_t k = 0;
    while (k < pids.size() && pids[k] != r.process.pid) ++k;
    if (k == pids.size()) continue;
    ++rows_of_theirs;
    EXPECT_EQ(processes[k].first.substr(0, 15), r.process.comm);
    std::string cmdline;
    for (const std::string& a : processes[k].second) cmdline += a + " ";
    EXPECT_EQ(cmdline, r.process.cmdline);
  }
  EXPECT_EQ(3, rows_of_theirs);
}

}  // namespace
