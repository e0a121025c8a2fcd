// The daemon loop's sample of system activity, and when it runs a pass.
#pragma once

#include <ctime>

// The context-switch total from the first bytes of /proc/stat; false when
// the text holds no "ctxt" line.
bool parse_context_switches(const char* text, int* total);

// The change of the total since the previous one (modulo 2^32, as the
// kernel's count is read into 32 bits), which becomes the previous total;
// 0, with the previous total kept, when the text holds no "ctxt" line.
int context_switch_delta(const char* text, int* previous_total);

// Whether a cycle runs a pass: more than 2 s since the last one, more than
// 5999 context switches, or 5 or more runnable entities.
bool pass_due(time_t now, time_t last_pass, int ctxt_delta, int runnable);
