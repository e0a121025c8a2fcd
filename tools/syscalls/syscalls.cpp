// The system calls the daemons make, for comparing two builds of them: each
// one-shot command of calmd, calmd's first daemon cycle and vmkd's first
// second run under strace in the device sandbox, over the same processes.
// Writes one file per case to OUT: the calls in order, each as its name and
// its quoted arguments, with digits written N (pids, times and counts vary).
//   vmk_syscalls OUT       (VMKD_BINARY, CALMD_BINARY choose the builds)
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "sandbox.h"

namespace {

using namespace sandbox;

// "openat(AT_FDCWD, \"/proc/301/stat\", O_RDONLY) = 3" -> "openat \"/proc/N/stat\""
std::string normalized(const std::string& line) {
  const size_t open = line.find('(');
  if (open == std::string::npos || line.compare(0, 3, "+++") == 0 || line.compare(0, 3, "---") == 0) return "";
  std::string out = line.substr(0, open);
  for (size_t at = line.find('"', open); at != std::string::npos; at = line.find('"', at + 1)) {
    size_t end = at + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    std::string text = line.substr(at, end - at + 1);
    std::string masked;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] >= '0' && text[i] <= '9') {
        masked += 'N';
        while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') ++i;
      } else {
        masked += text[i];
      }
    }
    out += " " + masked;
    at = end;
  }
  return out;
}

std::string normalized_file(const std::string& text) {
  std::istringstream lines(text);
  std::string line, out;
  while (std::getline(lines, line))
    if (const std::string n = normalized(line); !n.empty()) out += n + "\n";
  return out;
}

// A phone's worth of processes to walk over: idle, busy, a focused app.
void populate() {
  set_focused_app("com.example.app");
  spawn({"com.example.app", {"com.example.app"}});
  spawn({"idler", {"/system/bin/idler"}});
  spawn({"spinner", {"spinner"}, true});
  spawn({"logd", {"/system/bin/logd"}});
}

// Moves what a sandboxed case wrote to the memory file into a file of its own.
// Each case writes at offset 0: the file's offset is shared with the case's
// process, and truncating does not move it back.
bool save(int results, const std::string& dir, const std::string& name) {
  std::string path = dir;
  path += '/';
  path += name;
  path += ".txt";
  std::string text(8 << 20, '\0');
  const ssize_t n = pread(results, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  std::ofstream file(path);
  file << text;
  file.close();
  return file.good() && ftruncate(results, 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: vmk_syscalls OUT (VMKD_BINARY and CALMD_BINARY choose the daemons)\n", stderr);
    return 2;
  }
  set_standin_program(SB_PROC_BINARY);
  const std::string out = argv[1];
  std::error_code failed;
  std::filesystem::create_directories(out, failed);
  const std::string vmkd = environment_or("VMKD_BINARY", VMKD_BINARY);
  const std::string calmd = environment_or("CALMD_BINARY", CALMD_BINARY);
  const std::map<std::string, std::vector<std::string>> calmd_cases = {{"calmd-s", {"-s"}},
                                                                       {"calmd-r", {"-r"}},
                                                                       {"calmd-rk", {"-rk"}},
                                                                       {"calmd-c", {"-c"}},
                                                                       {"calmd-t", {"-t", "a", "0", "0", "0"}}};
  options o;
  o.read_only_binds = program_binds(VMK_BUILD_DIR, {vmkd, calmd});
  const int results = memfd_create("syscalls", MFD_CLOEXEC);
  if (results < 0) return 1;
  for (const auto& calmd_case : calmd_cases) {
    const std::string& name = calmd_case.first;
    const std::vector<std::string>& args = calmd_case.second;
    const int status = run(o, [&] {
      populate();
      const std::string trace = std::string(control_dir) + "/trace";
      std::vector<std::string> line = {"strace", "-qq", "-o", trace, calmd};
      line.insert(line.end(), args.begin(), args.end());
      run_command("strace", line, 60000);
      // The command's status is its own; no trace at all is strace's failure.
      if (!exists(trace)) return 1;
      const std::string text = normalized_file(read_file(trace));
      return pwrite(results, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) ? 0 : 1;
    });
    if (status != 0 || !save(results, out, name)) return 1;
  }
  // The daemons: each process's own calls, main process first, for a while.
  const struct {
    const char* name;
    const std::string& program;
    unsigned seconds;
  } daemons[] = {{"calmd-daemon", calmd, 2}, {"vmkd", vmkd, 1}};
  for (const auto& daemon : daemons) {
    const std::string name = daemon.name;
    const std::string& program = daemon.program;
    const unsigned seconds = daemon.seconds;
    const int status = run(o, [&] {
      populate();
      const pid_t tracer =
          start_command("strace", {"strace", "-qq", "-ff", "-o", std::string(control_dir) + "/trace", program},
                        std::string(control_dir) + "/strace.out");
      if (tracer <= 0) return 1;
      sleep(seconds);
      kill(tracer, SIGINT);
      wait_for([&] { return state_of(tracer) == 'Z' || state_of(tracer) == 0; }, 5000);
      // Per process, in pid order (the daemon's own first), its first calls.
      std::string text;
      for (pid_t pid = 300; pid < 1000; ++pid) {
        const std::string trace = std::string(control_dir) + "/trace." + std::to_string(pid);
        if (!exists(trace)) continue;
        std::istringstream calls(normalized_file(read_file(trace)));
        text += "== a process\n";
        std::string line;
        for (int kept = 0; kept < 150 && std::getline(calls, line); ++kept) text += line + "\n";
      }
      if (text.empty()) return 1;  // strace traced nothing
      return pwrite(results, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) ? 0 : 1;
    });
    if (status != 0 || !save(results, out, name)) return 1;
  }
  printf("system calls of each case in %s\n", out.c_str());
  return 0;
}
