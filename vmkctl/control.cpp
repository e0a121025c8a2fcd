#include "control.h"

#include <cstdio>

#include "scan_int.h"

namespace {

// The key as a message may show it: printable ASCII, cut short.
void shown_key(const char* key, char (&out)[48]) {
  size_t n = 0;
  for (const char* c = key; *c != '\0' && n + 4 < sizeof out; ++c) out[n++] = *c >= 0x20 && *c < 0x7f ? *c : '?';
  if (key[n] != '\0') out[n++] = '.', out[n++] = '.', out[n++] = '.';
  out[n] = '\0';
}

}  // namespace

bool parse_param_value(const char* key, const char* text, const user_param** param, int* value, char* error,
                       size_t size) {
  char shown[48];
  shown_key(key, shown);
  const user_param* p = find_user_param(key);
  if (p == nullptr) {
    // The keys from the table itself: "a, b, ... and z".
    size_t n = static_cast<size_t>(snprintf(error, size, "no parameter \"%s\": the parameters are", shown));
    for (int i = 0; i < user_param_count && n < size; ++i)
      n += static_cast<size_t>(snprintf(error + n, size - n, "%s%s",
                                        i == 0                     ? " "
                                        : i + 1 < user_param_count ? ", "
                                                                   : " and ",
                                        user_params[i].key));
    return false;
  }
  int v = 0;
  if (!parse_plain_int(text, &v)) {
    snprintf(error, size, "%s takes a whole number, such as %i", p->key, p->default_value);
    return false;
  }
  if (!allowed_value(*p, v)) {
    if (p->also != no_other_value)
      snprintf(error, size, "%s takes %i to %i or %i, not %i", p->key, p->low, p->high, p->also, v);
    else
      snprintf(error, size, "%s takes %i to %i, not %i", p->key, p->low, p->high, v);
    return false;
  }
  *param = p;
  *value = v;
  return true;
}

int next_profile(int profile) { return profile == 0 ? 2 : profile == 2 ? 3 : 0; }

void obstacle_message(const char* dir, const char* key, param_obstacle obstacle, char* out, size_t size) {
  const char* what = "something that is no file";
  const char* more = "";
  switch (obstacle) {
    case param_obstacle::none: what = "nothing"; break;
    case param_obstacle::full_folder: what = "a folder", more = " and is not empty"; break;
    case param_obstacle::folder: what = "a folder"; break;
    case param_obstacle::fifo: what = "a FIFO"; break;
    case param_obstacle::socket: what = "a socket"; break;
    case param_obstacle::device: what = "a device file"; break;
    case param_obstacle::link: what = "a link"; break;
    case param_obstacle::other: break;
  }
  snprintf(out, size, "%s not written: %s stands at %s/%s%s (remove it first)", key, what, dir, key, more);
}
