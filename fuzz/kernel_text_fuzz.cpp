// The daemons' readers of /proc/stat, /proc/loadavg, parameter and module
// files, through the same descriptor-level reader, over any file content.
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "activity.h"
#include "cpu_load.h"
#include "fuzz_input.h"
#include "value_file.h"

namespace {

int memory_file(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fuzz", MFD_CLOEXEC);
  if (fd >= 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return -1;
  }
  if (fd >= 0) lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memory_file(data, size);
  if (fd < 0) return 0;
  const std::string text = as_text(data, size < 1023 ? size : 1023);

  // A parameter file: "%i\n" leaves the value alone unless it converts.
  int value = -777;
  const int result = scan_fd_f(fd, "%i\n", &value);
  int expected = -777;
  FUZZ_CHECK(result == sscanf(text.c_str(), "%i\n", &expected) && value == expected);

  // The loop's load average and run queue, and the GPU file.
  float load_avg = 1.5f;
  int runnable = 3, gpu = 4;
  lseek(fd, 0, SEEK_SET);
  if (scan_fd_f(fd, "%f %*f %*f", &load_avg) < 1) FUZZ_CHECK(load_avg == 1.5f);
  lseek(fd, 0, SEEK_SET);
  if (scan_fd_f(fd, "%*f %*f %*f %i/%*i", &runnable) < 1) FUZZ_CHECK(runnable == 3);
  lseek(fd, 0, SEEK_SET);
  if (scan_fd_f(fd, "%i %%\n", &gpu) < 1) FUZZ_CHECK(gpu == 4);

  // The aggregate cpu line, and the load figure from two such samples.
  long double v[5];
  lseek(fd, 0, SEEK_SET);
  if (scan_fd_f(fd, "%*s %Lf %Lf %Lf %Lf %Lf", &v[0], &v[1], &v[2], &v[3], &v[4]) == 5) {
    cpu_counters zero, sample;
    sample.user = static_cast<quad>(v[0]);
    sample.nice = static_cast<quad>(v[1]);
    sample.system = static_cast<quad>(v[2]);
    sample.idle = static_cast<quad>(v[3]);
    sample.iowait = static_cast<quad>(v[4]);
    const int load = cpu_load_between(zero, sample);
    const bool sane = v[0] >= 0 && v[1] >= 0 && v[2] >= 0 && v[3] >= 0 && v[4] >= 0 && v[0] < 1e30L && v[1] < 1e30L &&
                      v[2] < 1e30L && v[3] < 1e30L && v[4] < 1e30L;
    if (sane) FUZZ_CHECK((load >= 0 && load <= 100) || load == INT_MAX);
  }

  // The context-switch line of the daemon loop: found only where "ctxt" is.
  int total = 99;
  if (parse_context_switches(text.c_str(), &total)) FUZZ_CHECK(text.find("ctxt") != std::string::npos);
  close(fd);
  return 0;
}
