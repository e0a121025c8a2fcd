#include "phone_setup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sandbox.h"
#include "scaling.h"

namespace phone {
namespace {

constexpr const char* marker = "vmk.throwaway_phone=1";
constexpr const char* real_sysfs = "/run/realsys";

bool fail(const char* what, const std::string& path) {
  fprintf(stderr, "phone: %s %s: %s\n", what, path.c_str(), strerror(errno));
  return false;
}

bool make_dirs(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at)
    if ((at == path.size() || path[at] == '/') && mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST)
      return fail("mkdir", path.substr(0, at));
  return true;
}

bool make_file(const std::string& path, const std::string& text) {
  return make_dirs(path.substr(0, path.rfind('/'))) && (sandbox::write_file(path, text) || fail("write", path));
}

// A tmpfs over a sysfs folder, so that files the mainline kernel lacks can be
// made in it, with every real entry of the folder bound back in place.
bool graft(const std::string& dir) {
  if (!sandbox::exists(real_sysfs) && (!make_dirs(real_sysfs) || mount("sysfs", real_sysfs, "sysfs", 0, nullptr) != 0))
    return fail("mount", real_sysfs);
  const std::string real = real_sysfs + dir.substr(4);  // the same folder, below "/sys"
  if (mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID, "mode=0755,size=1m") != 0) return fail("mount tmpfs", dir);
  DIR* d = opendir(real.c_str());
  if (d == nullptr) return fail("list", real);
  bool ok = true;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    const std::string from = real + "/" + e->d_name, to = dir + "/" + e->d_name;
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      char target[512];
      const ssize_t n = readlink(from.c_str(), target, sizeof target - 1);
      if (n > 0) ok = symlink(std::string(target, static_cast<size_t>(n)).c_str(), to.c_str()) == 0 && ok;
      continue;
    }
    const bool made = S_ISDIR(st.st_mode) ? mkdir(to.c_str(), 0755) == 0 : sandbox::write_file(to, "");
    ok = made && mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0 && ok;
  }
  closedir(d);
  return ok || fail("bind the real entries back into", dir);
}

// What the custom kernel has and a mainline one cannot: the sandbox's fake
// files of those folders, with the same boot values.
bool is_faked(const char* path) {
  for (const char* folder :
       {"/sys/module/", "/sys/devices/system/cpu/cpufreq/", "/sys/devices/platform/soc/", "/dev/stune/"})
    if (strncmp(path, folder, strlen(folder)) == 0) return true;
  return false;
}

// The kernel's own identity, with the Velmora marker after its release.
bool velmora_version() {
  std::string text = sandbox::read_file("/proc/version");
  const std::string head = "Linux version ";
  const size_t release_end = text.find(' ', head.size());
  if (text.compare(0, head.size(), head) != 0 || release_end == std::string::npos) return fail("read", "/proc/version");
  text.insert(release_end, "-VmK");
  return make_file("/run/version", text) &&
         (mount("/run/version", "/proc/version", nullptr, MS_BIND, nullptr) == 0 || fail("bind", "/proc/version"));
}

// The real cgroup v1 cpuset hierarchy, mounted as Android's init does, and
// the groups with the lists a Snapdragon 845 boots with.
bool cpusets() {
  if (!make_dirs("/dev/cpuset") ||
      mount("none", "/dev/cpuset", "cpuset", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
    return fail("mount", "/dev/cpuset");
  for (const char* group : cpuset_group_names) {
    const std::string dir = std::string("/dev/cpuset/") + group;
    std::string cpus;
    for (const sandbox::fake_file& f : sandbox::device_files())
      if (dir + "/cpus" == f.path) cpus = f.text;
    if (mkdir(dir.c_str(), 0755) != 0 || !sandbox::write_file(dir + "/mems", "0\n") ||
        !sandbox::write_file(dir + "/cpus", cpus))
      return fail("make the cpuset group", dir);
  }
  return true;
}

// The hierarchies apps are grouped in, mounted as Android's init does:
// cgroup v1 cpuacct at /acct, memory at /dev/memcg (apps below "apps"), and
// the unified hierarchy at /sys/fs/cgroup (Android 12 on).
bool app_cgroups() {
  constexpr unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC;
  if (!make_dirs("/acct") || mount("none", "/acct", "cgroup", flags, "cpuacct") != 0) return fail("mount", "/acct");
  if (!make_dirs("/dev/memcg") || mount("none", "/dev/memcg", "cgroup", flags, "memory") != 0)
    return fail("mount", "/dev/memcg");
  if (mkdir("/dev/memcg/apps", 0755) != 0) return fail("mkdir", "/dev/memcg/apps");
  if (mount("none", "/sys/fs/cgroup", "cgroup2", flags, nullptr) != 0) return fail("mount", "/sys/fs/cgroup");
  return true;
}

// The module the image carries, where a root manager installs it.
bool installed_module() {
  if (!make_dirs(module) || mount("/vmk/module", module, nullptr, MS_BIND, nullptr) != 0) return fail("bind", module);
  return true;
}

}  // namespace

bool on_throwaway_phone() {
  const std::string line = sandbox::read_file("/proc/cmdline");
  return line.find(marker) != std::string::npos && sandbox::exists("/vmk/phone_tests");
}

bool become_phone() {
  if (mount("tmpfs", "/run", "tmpfs", MS_NOSUID, "mode=0755,size=16m") != 0) return fail("mount", "/run");
  // The shared storage as it is after the first unlock: vold has made Android/ in it.
  if (mount("tmpfs", "/data", "tmpfs", MS_NOSUID, "mode=0771,size=64m") != 0 || !make_dirs("/data/media/0/Android"))
    return fail("mount", "/data");
  if (!graft("/sys/module") || !graft("/sys/devices/platform") || !graft("/sys/devices/system/cpu/cpufreq"))
    return false;
  for (const sandbox::fake_file& f : sandbox::device_files())
    if (is_faked(f.path) && !make_file(f.path, f.text)) return false;
  // Apps on a phone have pids in the thousands; calmd never examines one below 200.
  if (!sandbox::write_file("/proc/sys/kernel/ns_last_pid", "1000")) return fail("write", "ns_last_pid");
  return velmora_version() && cpusets() && app_cgroups() && installed_module() &&
         sandbox::install_android_tools("/bin/busybox", 13);
}

void fact(const std::string& key, const std::string& value) {
  printf("FACT %s=%s\n", key.c_str(), value.c_str());
  fflush(stdout);
}

}  // namespace phone
