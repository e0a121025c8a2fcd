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

// What of the activity sample makes a cycle run a pass at once: more than
// 5999 context switches, else 5 or more runnable entities; none otherwise.
enum class busy_sign { none, context_switches, runnable };
busy_sign busy_sign_of(int ctxt_delta, int runnable);

// Whether a cycle runs a pass: more than 2 s since the last one, or a busy sign.
bool pass_due(time_t now, time_t last_pass, int ctxt_delta, int runnable);
