#include "foreground.h"

#include <cstring>

#include "clock.h"
#include "shell.h"

namespace {

bool is_system_ui_window(const char* token) {
  return strcmp(token, "StatusBar}") == 0 || strcmp(token, "NotificationShade}") == 0;
}

}  // namespace

bool is_package_name(const char* text) {
  int segments = 0;
  int length = 0;  // of the current segment
  for (const char* c = text;; ++c) {
    if (*c == '.' || *c == '\0') {
      if (length == 0) return false;
      ++segments;
      if (*c == '\0') return segments >= 2;
      length = 0;
    } else if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '_') {
      ++length;
    } else {
      return false;
    }
  }
}

void foreground_from_token(const char* token, char* name) {
  if (token[0] == '\0') return;
  if (is_system_ui_window(token))
    strcpy(name, "com.android.systemui");
  else if (is_package_name(token))
    strcpy(name, token);
  else
    name[0] = '\0';
}

void read_foreground_app(foreground_app* app) {
  const long long deadline = monotonic_ms() + foreground_timeout_ms;
  for (int tried = 0; tried < 2; ++tried) {
    const int form = (app->answering_form + tried) % 2;
    const long long left = deadline - monotonic_ms();
    if (left <= 0) return;
    focus_scan scan;
    begin_focus_scan(&scan, static_cast<dumpsys_form>(form));
    const auto feed = [](void* context, const char* data, size_t length) {
      feed_focus_scan(static_cast<focus_scan*>(context), data, length);
    };
    if (stream_shell_output(dumpsys_commands[form], static_cast<int>(left), feed, &scan) < 0) continue;
    char token[focus_token_size];
    // Only a real focus line pins the form, "mCurrentFocus=null" too.
    if (end_focus_scan(&scan, token)) {
      app->answering_form = form;
      foreground_from_token(token, app->name);
      return;
    }
  }
}

bool is_foreground(const foreground_app& app, const char* text) {
  return app.name[0] != '\0' && strstr(text, app.name) != nullptr;
}
