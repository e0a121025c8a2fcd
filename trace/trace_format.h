// The load trace: plain text, one header line, then one row per line. What
// the recorder, the replay and the sandbox include.
//
// Header: "vmktrace 1" (name and format version), key=value facts about the
// recorded system, and for each kind of row "<kind>=<column>,<column>,...".
// Rows: tab-separated fields, the first is the kind:
//   S  system sample: time, the aggregate cpu counters and ctxt of /proc/stat,
//      the five fields of /proc/loadavg, GPU busy and touch (empty when the
//      file is missing) and the focused app's package;
//   P  process sample, written only when something in it changed;
//   E  a process that was there at the previous process sample has ended.
// Texts escape backslash, tab, newline, carriage return and other control
// bytes, so any name an app chooses stays on one field.
//
//   trace_text.h   the escaping of texts and the strict reading of numbers
//   trace_rows.h   the header and the rows: their writing and reading
//   kernel_text.h  the readers of the kernel texts the samples come from
#pragma once

#include "kernel_text.h"  // IWYU pragma: export
#include "trace_rows.h"   // IWYU pragma: export
#include "trace_text.h"   // IWYU pragma: export
