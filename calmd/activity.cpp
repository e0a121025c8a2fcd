#include "activity.h"

#include <cstdio>
#include <cstring>

#include "wrapping.h"

bool parse_context_switches(const char* text, int* total) {
  const char* line = strstr(text, "ctxt");
  return line != nullptr && sscanf(line, "ctxt %i\n", total) == 1;
}

int context_switch_delta(const char* text, int* previous_total) {
  int total = 0;
  if (!parse_context_switches(text, &total)) return 0;
  const int delta = wrapping_sub(total, *previous_total);
  *previous_total = total;
  return delta;
}

busy_sign busy_sign_of(int ctxt_delta, int runnable) {
  if (ctxt_delta > 5999) return busy_sign::context_switches;
  if (runnable >= 5) return busy_sign::runnable;
  return busy_sign::none;
}

bool pass_due(time_t now, time_t last_pass, int ctxt_delta, int runnable) {
  return now - last_pass > 2 || busy_sign_of(ctxt_delta, runnable) != busy_sign::none;
}
