// The sscaling process: rewrites CPU lists and frequency limits from the load.
#pragma once

// What the loop keeps from one cycle to the next.
struct scaling_state {
  bool full_setting_written = false;
  // An unreadable file leaves the last value.
  int runnable = 0;
  int previous_iowait = 0;
  float load_avg = 0;
};

// One cycle (it takes the 100 ms load sample); returns whether the loop is in
// the fixed regime, which pauses 10 s instead of 100 ms.
bool scaling_cycle(scaling_state& state);

[[noreturn]] void scaling_loop();
