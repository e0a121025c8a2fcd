#include "foreground.h"

#include <cstdio>
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

void foreground_from_output(const char* output, char* name) {
  char token[foreground_name_size];
  if (sscanf(output, "%127s", token) != 1) return;
  if (is_system_ui_window(token))
    strcpy(name, "com.android.systemui");
  else if (is_package_name(token))
    memcpy(name, token, sizeof token);
  else
    name[0] = '\0';
}

void read_foreground_app(foreground_app* app) {
  const long long deadline = monotonic_ms() + foreground_timeout_ms;
  char output[512];
  for (int tried = 0; tried < 2; ++tried) {
    const int form = (app->answering_form + tried) % 2;
    const long long left = deadline - monotonic_ms();
    if (left <= 0) return;
    // Any byte means grep found a focus line, even "mCurrentFocus=null" (an empty field).
    if (read_shell_output(foreground_pipelines[form], output, sizeof output, static_cast<int>(left)) > 0) {
      app->answering_form = form;
      foreground_from_output(output, app->name);
      return;
    }
  }
}

bool is_foreground(const foreground_app& app, const char* text) {
  return app.name[0] != '\0' && strstr(text, app.name) != nullptr;
}
