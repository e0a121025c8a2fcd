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
    write_param(p->key, value);
    // What vmkd will read: the store leaves no file when the write failed.
    int now = 0;
    if (!stored_param(p->key, &now) || now != value) {
      fprintf(stderr, "vmkctl: %s could not be written (storage full or not mounted?)\n", p->key);
      return 1;
    }
    printf("%s = %i\n", p->key, value);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "next-profile") == 0) {
    const user_param& p = user_params[cur_profile];
    const int old = read_param(p);
    const int next = next_profile(old);
    write_param(p.key, next);
    int now = 0;
    if (!stored_param(p.key, &now) || now != next) {
      fprintf(stderr, "vmkctl: %s could not be written (storage full or not mounted?)\n", p.key);
      return 1;
    }
    printf("profile %i (%s) -> %i (%s)\n", old, profile_name(old), next, profile_name(next));
    return 0;
  }
  fputs(usage, stderr);
  return 2;
}
