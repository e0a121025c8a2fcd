// The replay's half inside the device sandbox: feeds the trace to the fake
// kernel files, the fake dumpsys and the stand-in processes while the real
// daemons run, and writes what it sees to a record log (record_log.h).
#pragma once

#include <map>
#include <string>

#include "trace_model.h"

namespace replay {

struct feed_settings {
  const trace_model* model = nullptr;
  std::string vmkd, calmd, sb_proc;  // programs
  std::string emulator;              // for programs of another architecture
  int profile = 0;
  std::map<std::string, std::string> params;  // parameter files to put in place
  double cores = 1.5;                         // what the stand-ins may burn together on this machine
  int log_fd = -1;                            // where the records go
};

// Runs as the sandbox's body; returns 0, or non-zero when the replay could not run.
int feed(const feed_settings& s);

}  // namespace replay
