// What a replay shows: the text report, the timeline pictures (gnuplot, PNG
// and SVG) and the same records as a JSON trace in the Trace Event Format.
#pragma once

#include <ostream>
#include <string>

#include "explain.h"
#include "trace_model.h"

namespace replay {

struct report_facts {
  std::string trace_path;
  int profile = 0;
  int android = 13;
  double cores = 1.5;
};

// full: every cycle and pass; otherwise a summary with the first few.
void write_report(std::ostream& out, const trace_model& m, const replay_result& r, const report_facts& facts,
                  bool full);
void write_trace_events(std::ostream& out, const trace_model& m, const replay_result& r);
// Writes the data and script into dir and runs gnuplot; false when it could not.
bool draw_timeline(const std::string& dir, const trace_model& m, const replay_result& r, std::string* error);

// The processes of the trace that burnt the most CPU, most first.
std::vector<size_t> busiest_processes(const trace_model& m, size_t count);

}  // namespace replay
