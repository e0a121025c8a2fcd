// The status as text for a terminal, as JSON for the module's WebUI, and as
// the one line the root manager shows under the module's name. Pure: over a
// snapshot, into the caller's buffer; the length, or -1 when it did not fit.
#pragma once

#include <cstddef>

#include "status.h"

int format_status_text(const status_snapshot& s, char* out, size_t size);
int format_status_json(const status_snapshot& s, char* out, size_t size);
// "running: vmkd load-driven, calmd 3 throttled", "stopped: vmkd and calmd", ...
int format_description(const status_snapshot& s, char* out, size_t size);

// Why calmd made a change, from the change itself and its own table:
// "usage 62: U 50 to 100: N + 3, policy rule 3: OTHER"; a foreground hold; a parent push.
int explain_change(const calm_line& l, char* out, size_t size);
// A change that gave the focused app's hold, not the table's values.
bool is_focus_hold(const calm_line& l);
