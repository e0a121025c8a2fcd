// The nice rules: a fixed scheduling treatment for well-known processes,
// recognised by a substring of their name or command line.
#pragma once

#include <string_view>

struct nice_treatment {
  bool idle_policy;  // SCHED_IDLE with priority 0; the nice value is not touched
  int nice;          // used when idle_policy is false
};

// Index of the first rule group that matches, or -1. Within a group each
// pattern is tried on the name, then on the command line.
int match_nice_rule(std::string_view name, std::string_view cmdline);
nice_treatment nice_rule_treatment(int group);
