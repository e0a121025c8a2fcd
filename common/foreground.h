// The app that owns the focused window, from what dumpsys prints of it.
#pragma once

#include "focus_scan.h"

inline constexpr int foreground_name_size = 128;
static_assert(foreground_name_size == focus_token_size);

// A hung dumpsys must not stall the pass for ever: this bounds the whole detection.
inline constexpr int foreground_timeout_ms = 10000;

// The name a focus line's token gives: the status bar and the notification
// shade are "com.android.systemui", a package name is itself, any other
// token (a crash dialog, the keyguard, a popup) is the empty name. The empty
// token (nothing focused) keeps the old name.
void foreground_from_token(const char* token, char* name);
// Two or more segments of letters, digits and '_', joined by '.'.
bool is_package_name(const char* text);
// What the detection keeps from one call to the next.
struct foreground_app {
  char name[foreground_name_size] = "";  // empty until a focus line has been read
  int answering_form = 0;                // of dumpsys_commands, the one that answered last
};

// Asks the form that answered last first; the other only when the first
// printed no real focus line.
void read_foreground_app(foreground_app* app);

// Whether a text belongs to the foreground app. An empty name matches
// nothing: otherwise every process would "contain" it.
bool is_foreground(const foreground_app& app, const char* text);
