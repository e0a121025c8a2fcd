// The sscaling process: rewrites CPU lists and frequency limits from the load.
#pragma once

#include "scaling_reads.h"

// What the loop keeps from one cycle to the next.
struct scaling_state {
  bool full_setting_written = false;
  scaling_memory memory;
};

// One cycle (it takes the 100 ms load sample); returns whether the loop is in
// the fixed regime, which pauses 10 s instead of 100 ms.
bool scaling_cycle(scaling_state& state);

[[noreturn]] void scaling_loop();
