// The app that owns the focused window, from the window listing of dumpsys.
#pragma once

inline constexpr int foreground_name_size = 128;
// Empty until a focus line has been read; keeps its value between calls.
extern char foreground_app[foreground_name_size];

inline constexpr const char* foreground_pipeline =
    "/system/bin/dumpsys window windows | grep mCurrentFocus | cut -d ' ' -f5 | cut -d '/' -f1";
// A hung dumpsys must not stall the pass for ever.
inline constexpr int foreground_timeout_ms = 10000;

// Takes the first blank-delimited token of the output (at most 127
// characters); no token keeps the old name. The status bar's "StatusBar}"
// becomes "com.android.systemui".
void foreground_from_output(const char* output, char* name);
void read_foreground_app();

// Whether a text belongs to the foreground app. An empty name matches
// nothing: otherwise every process would "contain" it.
bool is_foreground(const char* text);
