// The app that owns the focused window, from what dumpsys prints of it.
#pragma once

inline constexpr int foreground_name_size = 128;

// Android 7 to 9 print the focus line in the window listing; from Android 10
// on it stands in each display's section instead.
inline constexpr const char* foreground_pipelines[] = {
    "/system/bin/dumpsys window windows | grep mCurrentFocus | cut -d ' ' -f5 | cut -d '/' -f1",
    "/system/bin/dumpsys window displays | grep mCurrentFocus | cut -d ' ' -f5 | cut -d '/' -f1",
};
// A hung dumpsys must not stall the pass for ever: this bounds the whole detection.
inline constexpr int foreground_timeout_ms = 10000;

// Takes the first blank-delimited token of the output (at most 127
// characters); no token keeps the old name. The status bar and the
// notification shade become "com.android.systemui"; a token that is no
// package name (a crash dialog, the keyguard, a popup) becomes the empty name.
void foreground_from_output(const char* output, char* name);
// Two or more segments of letters, digits and '_', joined by '.'.
bool is_package_name(const char* text);
// What the detection keeps from one call to the next.
struct foreground_app {
  char name[foreground_name_size] = "";  // empty until a focus line has been read
  int answering_form = 0;                // of foreground_pipelines, the one that answered last
};

// Asks the form that answered last first; the other only when the first
// printed no focus line at all.
void read_foreground_app(foreground_app* app);

// Whether a text belongs to the foreground app. An empty name matches
// nothing: otherwise every process would "contain" it.
bool is_foreground(const foreground_app& app, const char* text);
