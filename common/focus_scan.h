// The focus line of dumpsys's window output, found by reading the output as
// the window manager lays it out. Window titles are printed in that output
// and any app chooses its own, newlines included: a line that only looks
// like a focus line, or lies inside a title, never counts.
#pragma once

#include <cstddef>

// Android 7 to 9 print the focus line at the end of the window listing; from
// Android 10 on it stands in each display's block of the display contents.
enum class dumpsys_form { window_listing, displays };
inline constexpr const char* dumpsys_commands[] = {
    "/system/bin/dumpsys window windows",
    "/system/bin/dumpsys window displays",
};

inline constexpr size_t focus_token_size = 128;

// The scan of one output, fed in pieces of any size; fixed storage.
struct focus_scan {
  dumpsys_form form = dumpsys_form::window_listing;
  char line[512] = "";  // the line so far; a longer one is cut
  size_t length = 0;
  bool overlong = false;
  bool brace_past_cut = false;            // a '}' in the part that was cut
  bool in_title = false;                  // inside a window title that goes on over lines
  bool in_display = false;                // display form: inside a display's block
  int focus_lines = 0;                    // of this display's block, or since the listing's last window
  char candidate[focus_token_size] = "";  // what the first of them names
  bool answered = false;                  // a real focus line (null or a window) was read
  bool decided = false;                   // a display named a window, or was forged
  char token[focus_token_size] = "";      // the focused window's token; "" for none
};

void begin_focus_scan(focus_scan* scan, dumpsys_form form);
void feed_focus_scan(focus_scan* scan, const char* data, size_t length);
// After the whole output: true when the form printed a real focus line. The
// token is then what the focus line names ("" for null): the first blank-
// delimited word of the window's title, cut at its first '/', so
// "com.example.app", "StatusBar}" or "Application". The window manager
// prints one focus line per display (after the whole listing before Android
// 10): where there are more, one is forged and none can be told from the
// other, so that display names nothing.
bool end_focus_scan(focus_scan* scan, char (&token)[focus_token_size]);
