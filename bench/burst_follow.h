// How fast vmkd's load-driven scaling follows a burst, on the virtual phone
// (phone_bench) and in the device sandbox (burst_bench): vmkd runs with the
// profile at 0; eight busy threads start in top-app; the time and the
// scaling cycles until top-app holds CPUs 0-7 and policy4's limit is band 8's
// maximum, and, once the burst ends, until both are back at what the quiet
// phone had. Cycles are counted by the setprop command each one runs, read
// from the fake setprop's log every 5 ms.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace burst_follow {

struct plan {
  std::string vmkd, burner;
  int bursts = 5;
  double hold_s = 3;   // the burst goes on this long once vmkd has followed it, and up to 1 s more
  double quiet_s = 6;  // between bursts, and before the first, and up to 1 s more
  // Run in the burst's process before its threads start: the phone moves it
  // into top-app.
  std::function<void()> enter_top_app = [] {};
};

struct figures {
  std::vector<double> up_ms, down_ms;  // per burst; NAN when not followed in time
  std::vector<double> up_cycles, down_cycles;
  std::vector<double> quiet_cycle_ms;        // each interval between two cycles while quiet
  std::vector<double> busy_cycle_ms;         // the same while the burst held CPUs 0-7
  std::string quiet_top_app, quiet_policy4;  // the setting of the quiet phone, before the first burst
};

figures follow(const plan& p);

// The figures as a table on out, for the place named.
void print(const figures& f, const char* where, FILE* out);

}  // namespace burst_follow
