#include "phone_proc.h"

namespace sandbox {

std::string phone_stat_text(const unsigned long long (&cpu)[trace::cpu_counter_count], unsigned long long ctxt,
                            int cpus, int ctxt_at, int running) {
  std::string out;
  auto counters = [&](int index) {  // -1: the aggregate line
    out += index < 0 ? "cpu  " : "cpu" + std::to_string(index) + " ";
    for (unsigned long long total : cpu) {
      const unsigned long long n = static_cast<unsigned long long>(cpus);
      const unsigned long long value =
          index < 0 ? total : total / n + (static_cast<unsigned long long>(index) < total % n ? 1 : 0);
      out += std::to_string(value) + " ";
    }
    out += "0 0\n";  // guest, guest_nice
  };
  counters(-1);
  for (int k = 0; k < cpus; ++k) counters(k);
  out += "intr " + std::to_string(ctxt / 3);
  // Interrupt counts of zero pad the line; one count of 10 fixes an odd gap.
  long gap = static_cast<long>(ctxt_at) - static_cast<long>(out.size()) - 1;
  if (gap >= 3 && gap % 2 == 1) {
    out += " 10";
    gap -= 3;
  }
  for (; gap >= 2; gap -= 2) out += " 0";
  out += "\nctxt " + std::to_string(ctxt);
  out += "\nbtime 1700000000\nprocesses " + std::to_string(ctxt / 40 + 1000);  // no boot time is recorded
  out += "\nprocs_running " + std::to_string(running) + "\nprocs_blocked 0\nsoftirq 0 0 0 0 0 0 0 0 0 0 0\n";
  return out;
}

std::string phone_loadavg_text(const trace::system_row& r) {
  return std::string(r.load[0]) + " " + r.load[1] + " " + r.load[2] + " " + std::to_string(r.runnable) + "/" +
         std::to_string(r.tasks) + " " + std::to_string(r.last_pid) + "\n";
}

}  // namespace sandbox
