#include "foreground.h"

#include <cstdio>
#include <cstring>

#include "shell.h"

char foreground_app[foreground_name_size];

void foreground_from_output(const char* output, char* name) {
  char token[foreground_name_size];
  if (sscanf(output, "%127s", token) == 1) memcpy(name, token, sizeof token);
  if (strcmp(name, "StatusBar}") == 0) strcpy(name, "com.android.systemui");
}

void read_foreground_app() {
  char output[512];
  if (read_shell_output(foreground_pipeline, output, sizeof output, foreground_timeout_ms) < 0) return;
  foreground_from_output(output, foreground_app);
}

bool is_foreground(const char* text) {
  return foreground_app[0] != '\0' && strstr(text, foreground_app) != nullptr;
}
