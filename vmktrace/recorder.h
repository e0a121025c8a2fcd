// The recorder's loop: system samples every period, process samples and the
// focused app less often, all written to standard output as a trace.
#pragma once

#include "arguments.h"

// Returns 0, or 1 when standard output fails.
int run_recorder(const recorder_options& o);
