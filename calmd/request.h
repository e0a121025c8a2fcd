// The nice value, policy and real-time priority asked for by "-t" and "-c".
#pragma once

struct priority_request {
  int nice = -3;
  int policy = 0;
  int rt_priority = 0;
};

// Reads each present text with "%i" (nullptr: missing, keeps the default) and
// bounds the values in order: nice, policy, real-time priority. False when
// the policy is not 0, 1, 2, 3 or 5. For "-c" (for_foreground) the real-time
// policies also force nice 0.
bool make_request(const char* nice, const char* policy, const char* rt_priority, bool for_foreground,
                  priority_request* out);
