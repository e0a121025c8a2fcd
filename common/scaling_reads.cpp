#include "scaling_reads.h"

#include <unistd.h>

#include <climits>
#include <cstdio>

#include "cpu_load.h"
#include "wrapping.h"

void read_scaling_texts(scaling_texts* out, bool first_read_given) {
  bool first = true;
  for (const scaling_read& r : scaling_read_order) {
    if (!first || !first_read_given) read_value_text(r.path, &(out->*r.text));
    if (first && !first_read_given) usleep(100000);
    first = false;
  }
}

scaling_inputs scaling_inputs_from(const scaling_texts& t, scaling_memory* memory) {
  cpu_counters first, second;
  const bool have_first = t.stat_before.opened && cpu_counters_from_text(t.stat_before.text, &first);
  const bool have_second = t.stat_after.opened && cpu_counters_from_text(t.stat_after.text, &second);
  // An unreadable /proc/stat reads as the highest load, as no tick could be measured.
  const int cpu_load = have_first && have_second ? cpu_load_between(first, second) : INT_MAX;
  int gpu_busy = 0;
  if (t.gpu.opened) sscanf(t.gpu.text, "%i %%\n", &gpu_busy);
  if (t.loadavg_for_runnable.opened) sscanf(t.loadavg_for_runnable.text, "%*f %*f %*f %i/%*i", &memory->runnable);
  int iowait = memory->iowait;
  if (t.stat_for_iowait.opened) sscanf(t.stat_for_iowait.text, "cpu %*i %*i %*i %*i %i", &iowait);
  int touch = 0;
  if (t.touch.opened) sscanf(t.touch.text, "%i\n", &touch);
  if (t.loadavg_for_load.opened) sscanf(t.loadavg_for_load.text, "%f %*f %*f", &memory->load_avg);
  const int iowait_delta = wrapping_sub(iowait, memory->iowait);
  memory->iowait = iowait;
  return {cpu_load, gpu_busy, memory->runnable, iowait_delta, touch, memory->load_avg};
}
