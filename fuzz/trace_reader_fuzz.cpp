// The trace reader, header and rows, and the replay's loading of a whole
// trace: any text, as a trace from someone else may hold.
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "trace_format.h"
#include "trace_model.h"

namespace {

bool same_layout(const trace::header& a, const trace::header& b) {
  return memcmp(a.system_at, b.system_at, sizeof a.system_at) == 0 &&
         memcmp(a.process_at, b.process_at, sizeof a.process_at) == 0 &&
         memcmp(a.ended_at, b.ended_at, sizeof a.ended_at) == 0 && a.system_fields == b.system_fields &&
         a.process_fields == b.process_fields && a.ended_fields == b.ended_fields;
}

// The row in the writer's form, without its newline; "" when it does not fit.
std::string written(const trace::row& r) {
  char text[4096];
  const int n = r.what == trace::kind::system    ? trace::format_system_row(r.system, text, sizeof text)
                : r.what == trace::kind::process ? trace::format_process_row(r.process, text, sizeof text)
                                                 : trace::format_ended_row(r.ended, text, sizeof text);
  return n > 0 ? std::string(text, static_cast<size_t>(n) - 1) : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = as_text(data, size);
  size_t at = text.find('\n');
  trace::header h;
  char error[trace::error_size];
  if (!trace::parse_header(text.substr(0, at).c_str(), 1, &h, error)) return 0;
  char header_text[1024];
  FUZZ_CHECK(trace::format_header(h, header_text, sizeof header_text));
  trace::header again;
  header_text[strlen(header_text) - 1] = '\0';
  FUZZ_CHECK(trace::parse_header(header_text, 1, &again, error));
  FUZZ_CHECK(again.cpus == h.cpus && again.ctxt_at == h.ctxt_at && again.period_ms == h.period_ms &&
             again.processes_every_ms == h.processes_every_ms);
  const trace::header writers = trace::default_header();
  const bool writers_layout = same_layout(h, writers);
  // Each row the reader takes is written back as the same text.
  for (int number = 2; at != std::string::npos && at + 1 < text.size(); ++number) {
    const size_t end = text.find('\n', at + 1);
    const std::string line = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    at = end;
    trace::row r;
    if (!trace::parse_row(line.c_str(), number, h, 0, &r, error)) continue;
    const std::string out = written(r);
    FUZZ_CHECK(!out.empty());
    if (writers_layout) FUZZ_CHECK(out == line);
    trace::row back;
    FUZZ_CHECK(trace::parse_row(out.c_str(), number, writers, 0, &back, error));
    FUZZ_CHECK(written(back) == out);
  }
  // A replay takes on bounded work only.
  replay::trace_model m;
  std::string message;
  if (replay::load_trace_text(text, "fuzz", &m, &message)) {
    FUZZ_CHECK(m.duration_ms >= 0 && m.duration_ms <= replay::max_trace_ms);
    FUZZ_CHECK(m.processes.size() <= replay::max_trace_processes);
    FUZZ_CHECK(m.samples.size() <= replay::max_trace_samples);
  } else {
    FUZZ_CHECK(message.compare(0, 10, "fuzz: line") == 0);
  }
  return 0;
}
