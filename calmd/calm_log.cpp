#include "calm_log.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

int log_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = write_log_line(calm_log, calm_tag, format, args);
  va_end(args);
  return result;
}

void logged_name(const char* name, char (&out)[logged_name_size]) {
  static constexpr char hex[] = "0123456789abcdef";
  int n = 0;
  for (const char* c = name; *c != '\0' && n + 4 < logged_name_size; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f || byte == '\\') {
      out[n++] = '\\';
      out[n++] = 'x';
      out[n++] = hex[byte >> 4];
      out[n++] = hex[byte & 15];
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

void log_calm_line(const calm_line& line) {
  char text[1024];
  format_calm_line(line, text, sizeof text);
  // The text is an argument, not the format: a marker in a name redirects nothing.
  log_line("%s", text);
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

// The tail after a change's name: " (pid): ..." with or without usage.
bool parse_change_tail(const char* tail, calm_line* l) {
  int jiff = 0;
  if (sscanf(tail, " (%i): %i%% [%i jiff], => %i>%i (%i>%i)", &l->pid, &l->usage, &jiff, &l->nice, &l->new_nice,
             &l->old_policy, &l->new_policy) == 7)
    return true;
  l->usage = 0;
  return sscanf(tail, " (%i): => %i>%i (%i>%i)", &l->pid, &l->nice, &l->new_nice, &l->old_policy, &l->new_policy) == 5;
}

// The parent push after the child's name: " (pid): parent (NAME (ppid)) throttled: a => b."
bool parse_parent_tail(const char* tail, calm_line* l) {
  int used = 0;
  if (sscanf(tail, " (%i): parent (%n", &l->pid, &used) != 1 || used == 0) return false;
  const char* parent = tail + used;
  // The parent's name ends at the last " (" its own tail follows.
  for (const char* at = strrchr(parent, '('); at != nullptr && at > parent; at = at - 1) {
    if (at[-1] != ' ' || at[0] != '(') continue;
    if (sscanf(at, "(%i)) throttled: %i => %i.", &l->ppid, &l->nice, &l->new_nice) == 3 &&
        copy_name(parent, static_cast<size_t>(at - 1 - parent), l->parent))
      return true;
  }
  return false;
}

}  // namespace

bool parse_calm_line(const char* text, calm_line* out) {
  calm_line l;
  if (sscanf(text, "___Active,_ctxt:%i,nr:%i___", &l.ctxt, &l.nr) == 2) {
    l.kind = calm_line_kind::pass_start;
    if (!same_as_written(l, text)) return false;
    *out = l;
    return true;
  }
  // The name is everything before the last " (" after which a line's tail fits.
  for (const char* at = strrchr(text, '('); at != nullptr && at > text; --at) {
    if (at[0] != '(' || at[-1] != ' ') continue;
    const char* tail = at - 1;
    if (!copy_name(text, static_cast<size_t>(tail - text), l.name)) continue;
    for (const calm_line_kind kind : {calm_line_kind::parent_push, calm_line_kind::change}) {
      l.kind = kind;
      const bool parsed = kind == calm_line_kind::change ? parse_change_tail(tail, &l) : parse_parent_tail(tail, &l);
      if (parsed && same_as_written(l, text)) {
        *out = l;
        return true;
      }
    }
  }
  return false;
}
