// vmkctl: what the module's face writes. "vmkctl set KEY VALUE" sets one
// parameter, "vmkctl next-profile" moves to the next profile; both print what
// they did. Nothing it is given is run: a key or value it does not take is
// refused with a message and exit status 2.
#include <cstdio>
#include <cstring>

#include "control.h"
#include "param_store.h"

namespace {

constexpr const char* usage = "usage: vmkctl set KEY VALUE | vmkctl next-profile\n";

// Writes the value and reads back what vmkd will read: 0, or 1 with a message.
int write_checked(const char* key, int value) {
  const param_obstacle obstacle = write_param_over_file(key, value);
  if (obstacle != param_obstacle::none) {
    char message[512];
    obstacle_message(param_dir, key, obstacle, message, sizeof message);
    fprintf(stderr, "vmkctl: %s\n", message);
    return 1;
  }
  // The store leaves no file when the write failed.
  int now = 0;
  if (!stored_param(key, &now) || now != value) {
    fprintf(stderr, "vmkctl: %s could not be written (storage full or not mounted?)\n", key);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "set") == 0) {
    const user_param* p = nullptr;
    int value = 0;
    char error[256];
    if (!parse_param_value(argv[2], argv[3], &p, &value, error, sizeof error)) {
      fprintf(stderr, "vmkctl: %s\n", error);
      return 2;
    }
    if (write_checked(p->key, value) != 0) return 1;
    printf("%s = %i\n", p->key, value);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "next-profile") == 0) {
    const user_param& p = user_params[cur_profile];
    const int old = read_param(p);
    const int next = next_profile(old);
    if (write_checked(p.key, next) != 0) return 1;
    printf("profile %i (%s) -> %i (%s)\n", old, profile_name(old), next, profile_name(next));
    return 0;
  }
  fputs(usage, stderr);
  return 2;
}
