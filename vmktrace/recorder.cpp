#include "recorder.h"

#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "clock.h"
#include "foreground.h"
#include "proc_dir.h"
#include "process_identity.h"
#include "scaling_reads.h"
#include "stat_fields.h"
#include "trace_format.h"
#include "value_file.h"

namespace {

// Fixed storage: the recorder runs beside the daemons on the phone and must
// not grow. Processes beyond the table are left out of the trace.
constexpr int max_processes = 8192;

struct seen_process {
  int pid;
  unsigned long long digest;  // of everything its row holds but the time
};

// Everything one recording keeps, on run_recorder's stack.
struct recording {
  char stat_text[65536];
  char out_buffer[65536];
  size_t out_length = 0;
  bool out_failed = false;
  seen_process previous[max_processes], current[max_processes];
  int previous_count = 0, current_count = 0;
};

void flush_output(recording& rec) {
  if (!rec.out_failed && !write_all(STDOUT_FILENO, rec.out_buffer, rec.out_length)) rec.out_failed = true;
  rec.out_length = 0;
}

// Rows are formatted straight into the buffer; a full buffer is written out first.
template <class Format>
void emit(recording& rec, Format&& format) {
  constexpr size_t largest_row = 2048;
  if (sizeof rec.out_buffer - rec.out_length < largest_row) flush_output(rec);
  const int n = format(rec.out_buffer + rec.out_length, sizeof rec.out_buffer - rec.out_length);
  if (n > 0) rec.out_length += static_cast<size_t>(n);
}

// The whole file: with many CPUs and interrupts it is longer than one read gives.
bool read_stat_text(recording& rec) {
  const int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t length = 0;
  while (length < sizeof rec.stat_text - 1) {
    const ssize_t n = read(fd, rec.stat_text + length, sizeof rec.stat_text - 1 - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length += static_cast<size_t>(n);
  }
  close(fd);
  rec.stat_text[length] = '\0';
  return length > 0;
}

void sample_system(recording& rec, long long time_ms, const char* focus, trace::system_row* r) {
  *r = trace::system_row{};
  r->time_ms = time_ms;
  int cpus = 0, ctxt_at = 0;
  if (read_stat_text(rec)) trace::parse_proc_stat(rec.stat_text, r->cpu, &r->ctxt, &cpus, &ctxt_at);
  if (read_value("/proc/loadavg", "%15s %15s %15s %i/%i %i", r->load[0], r->load[1], r->load[2], &r->runnable,
                 &r->tasks, &r->last_pid) != 6) {
    // A row must stay readable: an unreadable file reads as an idle system.
    for (char* load : r->load) memcpy(load, "0.00", 5);
  }
  r->has_gpu = read_value(gpu_busy_file, "%i %%\n", &r->gpu) == 1;
  r->has_touch = read_value(touch_file, "%i\n", &r->touch) == 1;
  const size_t length = strnlen(focus, sizeof r->focus - 1);
  memcpy(r->focus, focus, length);
  r->focus[length] = '\0';
}

unsigned long long digest_of(const trace::process_row& r) {
  unsigned long long h = 1469598103934665603ull;
  auto mix = [&h](const void* data, size_t length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  };
  const long long numbers[] = {r.ppid, r.utime, r.stime, r.cutime, r.cstime, r.nice, r.policy};
  mix(numbers, sizeof numbers);
  mix(r.comm, strlen(r.comm) + 1);
  mix(r.cmdline, strlen(r.cmdline) + 1);
  return h;
}

int by_pid(const void* a, const void* b) {
  return static_cast<const seen_process*>(a)->pid - static_cast<const seen_process*>(b)->pid;
}

const seen_process* find_previous(const recording& rec, int pid) {
  const seen_process key = {pid, 0};
  return static_cast<const seen_process*>(
      bsearch(&key, rec.previous, static_cast<size_t>(rec.previous_count), sizeof key, by_pid));
}

// Writes a row for each process that is new or changed since the last
// sample, and an ended row for each that is gone. Kernel threads (no
// command line) are left out: neither daemon acts on them.
void sample_processes(recording& rec, long long time_ms) {
  rec.current_count = 0;
  for_each_pid(after_init, [&rec, time_ms](int pid) {
    if (rec.current_count >= max_processes) return;
    trace::process_row r;
    r.time_ms = time_ms;
    r.pid = pid;
    if (read_cmdline(r.cmdline, pid) <= 0) return;
    stat_fields f;
    if (!read_stat_fields(pid, &f)) return;
    read_comm(r.comm, pid);
    r.ppid = read_ppid(pid);
    r.utime = f.utime;
    r.stime = f.stime;
    r.cutime = f.cutime;
    r.cstime = f.cstime;
    r.nice = f.nice;
    const int policy = sched_getscheduler(pid);
    r.policy = policy < 0 ? 0 : policy & ~SCHED_RESET_ON_FORK;
    const unsigned long long digest = digest_of(r);
    rec.current[rec.current_count++] = {pid, digest};
    const seen_process* before = find_previous(rec, pid);
    if (before == nullptr || before->digest != digest)
      emit(rec, [&r](char* out, size_t size) { return trace::format_process_row(r, out, size); });
  });
  qsort(rec.current, static_cast<size_t>(rec.current_count), sizeof rec.current[0], by_pid);
  // Ended: in the previous sample, not in this one (both sorted by pid).
  for (int i = 0, k = 0; i < rec.previous_count; ++i) {
    while (k < rec.current_count && rec.current[k].pid < rec.previous[i].pid) ++k;
    if (k < rec.current_count && rec.current[k].pid == rec.previous[i].pid) continue;
    const trace::ended_row e = {time_ms, rec.previous[i].pid};
    emit(rec, [&e](char* out, size_t size) { return trace::format_ended_row(e, out, size); });
  }
  memcpy(rec.previous, rec.current, sizeof rec.current[0] * static_cast<size_t>(rec.current_count));
  rec.previous_count = rec.current_count;
}

void sleep_until(long long deadline_ms) {
  timespec ts = {static_cast<time_t>(deadline_ms / 1000), static_cast<long>(deadline_ms % 1000) * 1000000};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

}  // namespace

int run_recorder(const recorder_options& o) {
  recording rec;
  trace::header h = trace::default_header();
  h.period_ms = o.period_ms;
  h.processes_every_ms = o.processes_every_ms;
  unsigned long long counters[trace::cpu_counter_count];
  unsigned long long ctxt = 0;
  if (read_stat_text(rec)) trace::parse_proc_stat(rec.stat_text, counters, &ctxt, &h.cpus, &h.ctxt_at);
  if (h.cpus < 1) h.cpus = 1;
  if (h.ctxt_at > 8000) h.ctxt_at = 8000;
  emit(rec, [&h](char* out, size_t size) {
    return trace::format_header(h, out, size) ? static_cast<int>(strlen(out)) : -1;
  });

  // Without dumpsys (not a phone) there is no focused app to ask for.
  const bool have_dumpsys = access("/system/bin/dumpsys", X_OK) == 0;
  const long long start = monotonic_ms();
  const long long end = static_cast<long long>(o.seconds) * 1000;
  long long next_sample = 0, next_processes = 0, next_focus = 0;
  foreground_app focus;
  for (;;) {
    long long now = monotonic_ms() - start;
    if (now > end) break;
    // Once a second, as calmd does at most; the pipeline can take a while on a phone.
    if (now >= next_focus) {
      if (have_dumpsys) read_foreground_app(&focus);
      next_focus += 1000;
    }
    if (now >= next_processes) {
      sample_processes(rec, monotonic_ms() - start);
      next_processes += o.processes_every_ms;
      if (next_processes <= now) next_processes = now + o.processes_every_ms;
    }
    trace::system_row r;
    sample_system(rec, monotonic_ms() - start, focus.name, &r);
    emit(rec, [&r](char* out, size_t size) { return trace::format_system_row(r, out, size); });
    if (rec.out_failed) return 1;
    next_sample += o.period_ms;
    now = monotonic_ms() - start;
    // Late (a slow pipeline): go on from now rather than catch up in a burst.
    if (next_sample < now) next_sample = now;
    if (next_sample > end && now < end) next_sample = end;
    if (next_sample > end) break;
    sleep_until(start + next_sample);
  }
  flush_output(rec);
  return rec.out_failed ? 1 : 0;
}
