#include "calm_log.h"

#include <sched.h>

#include <cstdio>
#include <cstring>

#include "scheduling.h"
#include "shown_text.h"

void logged_name(const char* name, char (&out)[logged_name_size]) {
  int n = 0;
  for (const char* c = name; *c != '\0' && n + 4 < logged_name_size; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f || byte == '\\') {
      char escaped[4];
      hex_escape(byte, escaped);
      for (char e : escaped) out[n++] = e;
    } else {
      out[n++] = static_cast<char>(byte);
    }
  }
  out[n] = '\0';
}

int format_calm_line(const calm_line& l, char* out, size_t size) {
  switch (l.kind) {
    case calm_line_kind::pass_start: return snprintf(out, size, "___Active,_ctxt:%i,nr:%i___", l.ctxt, l.nr);
    case calm_line_kind::change:
      if (l.usage > 0)
        // The jiff slot always carries -1: no jiffy count is measured, and the line keeps its documented form.
        return snprintf(out, size, "%s (%i): %i%% [%i jiff], => %i>%i (%i>%i)", l.name, l.pid, l.usage, -1, l.nice,
                        l.new_nice, l.old_policy, l.new_policy);
      return snprintf(out, size, "%s (%i): => %i>%i (%i>%i)", l.name, l.pid, l.nice, l.new_nice, l.old_policy,
                      l.new_policy);
    case calm_line_kind::parent_push:
      return snprintf(out, size, "%s (%i): parent (%s (%i)) throttled: %i => %i.", l.name, l.pid, l.parent, l.ppid,
                      l.nice, l.new_nice);
  }
  return 0;
}

namespace {

bool copy_name(const char* from, size_t length, char (&to)[logged_name_size]) {
  if (length >= sizeof to) return false;
  memcpy(to, from, length);
  to[length] = '\0';
  return true;
}

// Whether the parsed line, written again, is the text: the parse then took
// exactly what calmd wrote, and a name holding " (" was split right.
bool same_as_written(const calm_line& l, const char* text) {
  char again[1024];
  const int n = format_calm_line(l, again, sizeof again);
  return n > 0 && static_cast<size_t>(n) < sizeof again && strcmp(again, text) == 0;
}

// Values calmd can write: the kernel's nice range, a policy as
// sched_getscheduler gives it (-1 for a process gone, the reset-on-fork flag
// kept), a usage figure, a pid.
bool in_range(const calm_line& l) {
  auto nice = [](int n) { return clamp_nice(n) == n; };
  auto policy = [](int p) { return p == -1 || (p & ~SCHED_RESET_ON_FORK) <= 7; };
  if (l.kind == calm_line_kind::pass_start) return l.nr >= 0;
  if (l.pid <= 0 || !nice(l.nice) || !nice(l.new_nice)) return false;
  if (l.kind == calm_line_kind::parent_push) return l.ppid > 0;
  return l.usage >= 0 && l.usage <= 100 && policy(l.old_policy) && l.new_policy >= 0 && l.new_policy <= 7;
}

// Counts a reading that calmd's writer gives back as the text.
void count_reading(const calm_line& l, const char* text, int* readings, calm_line* found) {
  if (!same_as_written(l, text) || !in_range(l)) return;
  if (++*readings == 1) *found = l;
}

// The tail after a change's name: " (pid): ..." with or without usage.
void read_change_tail(const char* text, const char* tail, calm_line l, int* readings, calm_line* found) {
  int jiff = 0;
  l.kind = calm_line_kind::change;
  if (sscanf(tail, " (%i): %i%% [%i jiff], => %i>%i (%i>%i)", &l.pid, &l.usage, &jiff, &l.nice, &l.new_nice,
             &l.old_policy, &l.new_policy) == 7)
    count_reading(l, text, readings, found);
  l.usage = 0;
  if (sscanf(tail, " (%i): => %i>%i (%i>%i)", &l.pid, &l.nice, &l.new_nice, &l.old_policy, &l.new_policy) == 5)
    count_reading(l, text, readings, found);
}

// The parent push after the child's name: " (pid): parent (NAME (ppid)) throttled: a => b."
// The parent's name may end at any " (" its tail follows.
void read_parent_tail(const char* text, const char* tail, calm_line l, int* readings, calm_line* found) {
  int used = 0;
  l.kind = calm_line_kind::parent_push;
  if (sscanf(tail, " (%i): parent (%n", &l.pid, &used) != 1 || used == 0) return;
  const char* parent = tail + used;
  // A name is shorter than its buffer: so are the splits tried.
  for (const char* at = strchr(parent, '('); at != nullptr && at - parent <= logged_name_size;
       at = strchr(at + 1, '(')) {
    if (at == parent || at[-1] != ' ') continue;
    if (sscanf(at, "(%i)) throttled: %i => %i.", &l.ppid, &l.nice, &l.new_nice) == 3 &&
        copy_name(parent, static_cast<size_t>(at - 1 - parent), l.parent))
      count_reading(l, text, readings, found);
  }
}

}  // namespace

// Names may hold " (" and text like a line's tail: every way of splitting
// the line is tried, and a line that reads back as written in more than one
// way names no one for sure and is not taken.
bool parse_calm_line(const char* text, calm_line* out) {
  calm_line l, found;
  int readings = 0;
  if (sscanf(text, "___Active,_ctxt:%i,nr:%i___", &l.ctxt, &l.nr) == 2) count_reading(l, text, &readings, &found);
  for (const char* at = strchr(text, '('); at != nullptr && at - text <= logged_name_size; at = strchr(at + 1, '(')) {
    if (at == text || at[-1] != ' ' || !copy_name(text, static_cast<size_t>(at - 1 - text), l.name)) continue;
    read_change_tail(text, at - 1, l, &readings, &found);
    read_parent_tail(text, at - 1, l, &readings, &found);
  }
  if (readings != 1) return false;
  *out = found;
  return true;
}
