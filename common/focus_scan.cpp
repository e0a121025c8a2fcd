#include "focus_scan.h"

#include <cstring>

namespace {

constexpr char focus_prefix[] = "  mCurrentFocus=";
constexpr char window_entry[] = "  Window #";            // a window of the listing: its title follows
constexpr char window_attributes[] = "    mDisplayId=";  // the first line after a listed window's title
constexpr char display_header[] = "  Display: mDisplayId=";

bool starts_with(const char* text, size_t length, const char* prefix) {
  const size_t n = strlen(prefix);
  return length >= n && memcmp(text, prefix, n) == 0;
}

// "Window{HEX u<user> " at text: its length, the title following it; 0 when not.
size_t window_reference(const char* text, size_t length) {
  constexpr char open[] = "Window{";
  size_t at = sizeof open - 1;
  if (!starts_with(text, length, open)) return 0;
  const size_t hex_start = at;
  while (at < length && at - hex_start < 9 &&
         ((text[at] >= '0' && text[at] <= '9') || (text[at] >= 'a' && text[at] <= 'f')))
    ++at;
  if (at == hex_start || at - hex_start > 8 || at + 2 > length || text[at] != ' ' || text[at + 1] != 'u') return 0;
  at += 2;
  const size_t user_start = at;
  while (at < length && at - user_start < 10 && text[at] >= '0' && text[at] <= '9') ++at;
  if (at == user_start || at - user_start > 9 || at >= length || text[at] != ' ') return 0;
  return at + 1;
}

// Where the title of the line's last window reference starts; 0 when none.
size_t last_title_start(const char* line, size_t length) {
  size_t title = 0;
  for (size_t at = 0; at + 1 < length; ++at)
    if (line[at] == 'W')
      if (const size_t n = window_reference(line + at, length - at)) title = at + n;
  return title;
}

// A focus line exactly as the window manager prints it: "null", or a window
// reference, a title and the closing brace ending the line. The token is the
// title's first word with that brace where the title has no blank, cut at '/'.
bool focus_line_token(const char* line, size_t length, char (&token)[focus_token_size]) {
  if (!starts_with(line, length, focus_prefix)) return false;
  const char* rest = line + sizeof focus_prefix - 1;
  const size_t n = length - (sizeof focus_prefix - 1);
  if (n == 4 && memcmp(rest, "null", 4) == 0) {
    token[0] = '\0';
    return true;
  }
  const size_t title = window_reference(rest, n);
  if (title == 0 || title + 1 >= n || rest[n - 1] != '}') return false;
  size_t kept = 0;
  for (size_t at = title; at < n && rest[at] != ' ' && rest[at] != '/' && kept + 1 < focus_token_size; ++at)
    token[kept++] = rest[at];
  token[kept] = '\0';
  return true;
}

// What a display's block said: its one focus line, or nothing when there was
// none or more than one. The first display whose block names a window, or
// holds a forged line beside the real one, decides for all.
void close_display(focus_scan* s) {
  if (s->focus_lines == 0) return;
  s->answered = true;
  if (!s->decided && (s->focus_lines > 1 || s->candidate[0] != '\0')) {
    s->decided = true;
    if (s->focus_lines == 1) memcpy(s->token, s->candidate, sizeof s->token);
  }
  s->focus_lines = 0;
}

void scan_line(focus_scan* s) {
  const char* line = s->line;
  const size_t length = s->length;
  const bool brace = memchr(line, '}', length) != nullptr || s->brace_past_cut;
  // A title printed over several lines ends, at the earliest, on the first
  // line with a brace; nothing in it is the window manager's own.
  if (s->in_title) {
    s->in_title = !brace;
    return;
  }
  char token[focus_token_size];
  const bool focus = !s->overlong && focus_line_token(line, length, token);
  if (s->form == dumpsys_form::window_listing) {
    // The real focus line follows the whole listing: a title's text is always
    // followed by its own window's attribute lines.
    if (starts_with(line, length, window_entry) || starts_with(line, length, window_attributes)) {
      s->focus_lines = 0;
    } else if (focus && s->focus_lines++ == 0) {
      memcpy(s->candidate, token, sizeof token);
    }
  } else if (starts_with(line, length, display_header)) {
    close_display(s);
    s->in_display = true;
  } else if (focus && s->in_display && s->focus_lines++ == 0) {
    memcpy(s->candidate, token, sizeof token);
  }
  const size_t title = last_title_start(line, length);
  if (title != 0 && memchr(line + title, '}', length - title) == nullptr && !s->brace_past_cut) s->in_title = true;
}

}  // namespace

void begin_focus_scan(focus_scan* scan, dumpsys_form form) {
  *scan = focus_scan{};
  scan->form = form;
}

void feed_focus_scan(focus_scan* s, const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char c = data[i];
    if (c == '\n') {
      scan_line(s);
      s->length = 0;
      s->overlong = false;
      s->brace_past_cut = false;
      continue;
    }
    if (c == '\0') c = '\x01';  // a NUL in a title: never part of a name
    if (s->length < sizeof s->line) {
      s->line[s->length++] = c;
    } else {
      s->overlong = true;
      s->brace_past_cut = s->brace_past_cut || c == '}';
    }
  }
}

bool end_focus_scan(focus_scan* s, char (&token)[focus_token_size]) {
  if (s->length > 0) scan_line(s);  // a last line without its newline
  s->length = 0;
  // The listing's candidates are those after its last window; a display's, its block's.
  close_display(s);
  memcpy(token, s->token, sizeof token);
  return s->answered;
}
