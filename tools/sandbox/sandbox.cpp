#include "sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "phone_proc.h"
#include "trace_format.h"
#include "tree_building.h"

namespace sandbox {
namespace {

constexpr const char* new_root = "/tmp";  // hidden by a tmpfs in the sandbox's own mount namespace
constexpr pid_t first_test_pid = 300;

// What the fake device holds while a sandbox runs. It lives in the sandbox's
// pid 1, the test body, which alone calls the functions that change it; the
// calls are free functions so that a test reads like what it does.
struct device_state {
  int ns_last_pid_fd = -1;  // kept writable after /proc/sys is made read-only
  pid_t kmsg_drain = 0;     // the process that copies /dev/kmsg to the log
  int real_stat_fd = -1;    // the real /proc/stat, opened before the fake one hides it
};

device_state& device() {
  static device_state state;
  return state;
}

constexpr const char* velmora_version =
    "Linux version 4.14.190-VmK-r12 (builder@velmora) (clang version 12.0.5) #1 SMP PREEMPT Sat Oct 3 2026\n";
constexpr const char* stock_version =
    "Linux version 4.14.190-perf-g3a1b2c4 (builder@android-build) (clang version 12.0.5) #1 SMP PREEMPT\n";

// Global files of procfs that must not be writable from inside.
constexpr const char* proc_read_only[] = {"sys", "sysrq-trigger", "irq", "bus", "fs", "acpi", "scsi", "driver"};

}  // namespace

bool fail(const char* what, const std::string& path) {
  fprintf(stderr, "sandbox: %s %s: %s\n", what, path.c_str(), strerror(errno));
  return false;
}

bool make_dirs(const std::string& path, mode_t mode) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return fail("mkdir", part);
  }
  return true;
}

bool make_file(const std::string& path, const std::string& text, mode_t mode) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash))) return false;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return fail("create", path);
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  chmod(path.c_str(), mode);
  return ok;
}

bool bind_file(const std::string& source, const std::string& target) {
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return fail("bind", target);
  return true;
}

std::string read_some(const char* path, size_t size) {
  std::string bytes(size, '\0');
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd >= 0 ? read(fd, bytes.data(), size) : -1;
  if (fd >= 0) close(fd);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

namespace {

bool bind_read_only(const std::string& source, const std::string& target) {
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return fail("bind", target);
  if (mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
    return fail("remount read-only", target);
  return true;
}

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct host_bind {
  std::string path;
  int fd;
};

// Opens what the sandbox shows of the host before anything hides it.
std::vector<host_bind> open_host_binds(const options& o) {
  std::vector<host_bind> binds;
  std::vector<std::string> paths = {"/usr", "/etc"};
  for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
    struct stat st;
    if (lstat(top, &st) == 0 && S_ISDIR(st.st_mode)) paths.push_back(top);
  }
  for (const std::string& p : o.read_only_binds) paths.push_back(p);
  for (const std::string& p : paths) {
    const int fd = open(p.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0) binds.push_back({p, fd});
  }
  return binds;
}

bool build_system_tree(const std::string& root, const std::vector<host_bind>& binds) {
  for (const host_bind& b : binds) {
    if (!make_dirs(root + b.path) || !bind_read_only(fd_path(b.fd), root + b.path)) return false;
  }
  // Merged-/usr hosts have /bin and friends as links into /usr.
  for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
    char target[256];
    const ssize_t n = readlink(top, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (symlink(target, (root + top).c_str()) != 0) return fail("symlink", top);
  }
  return true;
}

bool build_proc(const std::string& root, const options& o) {
  const std::string proc = root + "/proc";
  const std::string sim = root + control_dir;
  if (!make_dirs(proc) || mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
    return fail("mount", proc);
  device().ns_last_pid_fd = open((proc + "/sys/kernel/ns_last_pid").c_str(), O_RDWR | O_CLOEXEC);
  if (device().ns_last_pid_fd < 0) return fail("open", "ns_last_pid");
  device().real_stat_fd = open((proc + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (device().real_stat_fd < 0) return fail("open", "/proc/stat");

  if (!make_file(sim + "/version", o.velmora_kernel ? velmora_version : stock_version) ||
      !bind_file(sim + "/version", proc + "/version"))
    return false;
  for (const auto& [wanted, leaf] : {std::pair{o.fake_stat, "stat"}, std::pair{o.fake_loadavg, "loadavg"}}) {
    if (!wanted) continue;
    // Starts as a copy of the real one; the body rewrites it in place.
    const std::string real = read_file(proc + "/" + leaf);
    if (!make_file(sim + "/" + leaf, real) || !bind_file(sim + "/" + leaf, proc + "/" + leaf)) return false;
  }
  for (const char* leaf : proc_read_only) {
    const std::string p = proc + "/" + leaf;
    if (exists(p) && !bind_read_only(p, p)) return false;
  }
  // The one sysctl the daemons write, shadowed on top of the read-only /proc/sys.
  return make_file(sim + "/extfrag_threshold", "500\n") &&
         bind_file(sim + "/extfrag_threshold", proc + "/sys/vm/extfrag_threshold");
}

bool enter_root(const std::string& root) {
  const std::string old_root = root + "/.old";
  if (!make_dirs(old_root) || syscall(SYS_pivot_root, root.c_str(), old_root.c_str()) != 0)
    return fail("pivot_root", root);
  if (chdir("/") != 0 || umount2("/.old", MNT_DETACH) != 0) return fail("detach", "/.old");
  rmdir("/.old");
  return true;
}

// /dev/kmsg is a FIFO; this keeps it open and appends what arrives to a log.
void start_kernel_log_drain() {
  device().kmsg_drain = fork();
  if (device().kmsg_drain != 0) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  prctl(PR_SET_NAME, "kmsg-drain");
  const int in = open("/dev/kmsg", O_RDWR | O_CLOEXEC);
  const int out = open((std::string(control_dir) + "/kmsg.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || write(out, buffer, static_cast<size_t>(n)) != n) _exit(1);
  }
}

bool build_sandbox(const options& o) {
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make private", "/");
  const std::vector<host_bind> binds = open_host_binds(o);
  const std::string root = new_root;
  if (mount("tmpfs", root.c_str(), "tmpfs", 0, "mode=0755,size=64m") != 0) return fail("mount root", root);
  const bool built = build_system_tree(root, binds) && make_dirs(root + "/tmp") && make_dirs(root + control_dir) &&
                     build_proc(root, o) && build_devices(root, o) && enter_root(root);
  for (const host_bind& b : binds) close(b.fd);
  if (!built) return false;
  chmod("/tmp", 01777);
  start_kernel_log_drain();
  const std::string next = std::to_string(first_test_pid);
  if (pwrite(device().ns_last_pid_fd, next.data(), next.size(), 0) < 0) return fail("write", "ns_last_pid");
  start_android(o.android);
  setenv("PATH", "/system/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
  return true;
}

}  // namespace

pid_t move_next_pid(pid_t next) {
  char old[16] = {};
  if (device().ns_last_pid_fd < 0 || pread(device().ns_last_pid_fd, old, sizeof old - 1, 0) <= 0) return 0;
  const std::string text = std::to_string(next - 1);
  (void)!pwrite(device().ns_last_pid_fd, text.data(), text.size(), 0);
  return atoi(old) + 1;
}

std::vector<std::string> program_binds(const std::string& build_dir, const std::vector<std::string>& programs) {
  std::vector<std::string> binds = {build_dir};
  for (const std::string& program : programs)
    if (program.rfind(build_dir + "/", 0) != 0) binds.push_back(program.substr(0, program.rfind('/')));
  return binds;
}

std::string environment_or(const char* name, const std::string& fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

int run_reporting(const options& o, const std::function<int(FILE* out)>& body, std::string* text) {
  text->clear();
  const int memory = memfd_create("sandbox-report", MFD_CLOEXEC);
  if (memory < 0) return -1;
  const int status = run(o, [&] {
    FILE* out = fdopen(fcntl(memory, F_DUPFD_CLOEXEC, 0), "w");
    if (out == nullptr) return 1;
    const int result = body(out);
    fclose(out);
    return result;
  });
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(memory, buffer, sizeof buffer, at)) > 0; at += n)
    text->append(buffer, static_cast<size_t>(n));
  close(memory);
  return status;
}

int run(const options& o, const std::function<int()>& body) {
  fflush(nullptr);
  const pid_t outer = fork();
  if (outer < 0) return -1;
  if (outer == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0) {
      perror("sandbox: unshare");
      _exit(125);
    }
    const pid_t init = fork();
    if (init == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (!build_sandbox(o)) _exit(125);
      const int status = body();
      fflush(nullptr);
      _exit(status);
    }
    int status = 0;
    while (waitpid(init, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
  }
  const long deadline = monotonic_ms() + o.timeout_seconds * 1000L;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(outer, &status, WNOHANG);
    if (done == outer) break;
    if (monotonic_ms() > deadline) {
      fprintf(stderr, "sandbox: run timed out after %i s\n", o.timeout_seconds);
      kill(outer, SIGKILL);  // its pid 1 dies with it, and the namespace with that
      waitpid(outer, &status, 0);
      return -1;
    }
    usleep(20000);
  }
  if (!WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code >= 125 ? -1 : code;
}

std::string read_file(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

bool write_file(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

unsigned file_mode(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return ~0u;
  return st.st_mode & 07777;
}

std::string kernel_log() {
  // Settled first: the FIFO empty and its copier back in its next read, so
  // that the read which emptied it has returned and its text is in the log.
  // A busy machine can hold the copier back well after the writer is gone.
  if (device().kmsg_drain <= 0) return read_file(std::string(control_dir) + "/kmsg.log");
  const int fifo = open("/dev/kmsg", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const std::string call_file = "/proc/" + std::to_string(device().kmsg_drain) + "/syscall";
  const bool settled = wait_for(
      [&] {
        int pending = -1;
        if (fifo < 0 || ioctl(fifo, FIONREAD, &pending) != 0 || pending != 0) return false;
        const std::string call = read_file(call_file);
        return call.compare(0, call.find(' '), std::to_string(SYS_read)) == 0;
      },
      3000);
  if (!settled) fputs("sandbox: the kernel log's copier did not catch up in 3 s\n", stderr);
  if (fifo >= 0) close(fifo);
  return read_file(std::string(control_dir) + "/kmsg.log");
}
// Written over the old text, then cut to length: never empty in between.
static void rewrite_in_place(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
    (void)!ftruncate(fd, static_cast<off_t>(text.size()));
  close(fd);
}

void set_proc_stat(const std::string& text) { rewrite_in_place("/proc/stat", text); }
void set_proc_loadavg(const std::string& text) { rewrite_in_place("/proc/loadavg", text); }

std::string real_proc_stat() {
  std::string text(16384, '\0');
  const ssize_t n = device().real_stat_fd >= 0 ? pread(device().real_stat_fd, text.data(), text.size(), 0) : -1;
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

std::string phone_proc_stat(const std::string& stat) {
  unsigned long long counters[trace::cpu_counter_count] = {};
  unsigned long long ctxt = 0;
  int cpus = 0, ctxt_at = 0;
  trace::parse_proc_stat(stat.c_str(), counters, &ctxt, &cpus, &ctxt_at);
  // "ctxt" where one eight-core phone had it, past the 2048 bytes calmd reads.
  return phone_stat_text(counters, ctxt, 8, 2325, 1);
}

bool wait_for(const std::function<bool()>& ready, int timeout_ms) {
  const long deadline = monotonic_ms() + timeout_ms;
  // Most waits end within a millisecond or two: look often at first.
  for (useconds_t pause = 500;; pause = pause < 20000 ? pause * 2 : 20000) {
    if (ready()) return true;
    if (monotonic_ms() > deadline) return false;
    usleep(pause);
  }
}

}  // namespace sandbox
