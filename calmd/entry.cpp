#include "entry.h"

#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "daemon.h"
#include "priority_commands.h"
#include "request.h"
#include "throttle.h"

namespace {

constexpr char not_root_message[] = "Необходимы рут-права!\n";
constexpr char wrong_command_message[] = "Wrong command!\n";
constexpr char wrong_policy_message[] =
    "Wrong scheduler value at argument 2!\nPossible values:\n\t0\tSCHED_OTHER\n\t1\tSCHED_FIFO\n\t2\tSCHED_RR\n"
    "\t3\tSCHED_BATCH\n\t5\tSCHED_IDLE\n";

template <size_t n>
void say(const char (&message)[n]) {
  fwrite(message, 1, n - 1, stderr);
}

int set_by_name(int argc, char** argv) {
  if (argc < 6) {
    say(wrong_command_message);
    return 0;
  }
  for (int at = 2; at + 3 < argc; at += 4) {
    priority_request r;
    if (!make_request(argv[at + 1], argv[at + 2], argv[at + 3], false, &r)) {
      say(wrong_policy_message);
      return 1;
    }
    set_priority_by_name(argv[at], r.nice, r.policy, r.rt_priority);
  }
  return 0;
}

int set_foreground(int argc, char** argv) {
  const char* value[3] = {};
  for (int i = 0; i < 3 && i + 2 < argc; ++i) value[i] = argv[i + 2];
  priority_request r;
  if (!make_request(value[0], value[1], value[2], true, &r)) {
    say(wrong_policy_message);
    return 1;
  }
  set_priority_of_foreground(r.nice, r.policy, r.rt_priority);
  return 0;
}

}  // namespace

int run_calmd(int argc, char** argv) {
  if (getuid() != 0) {
    say(not_root_message);
    return 1;
  }
  // Real-time, ahead of every app it throttles, so that a busy phone cannot
  // starve the one process meant to calm it; its commands run under normal scheduling.
  const sched_param param = {20};
  sched_setscheduler(0, SCHED_FIFO, &param);

  if (argc < 2) return start_daemon(argc > 0 && argv[0] != nullptr ? argv[0] : "");
  const char* command = argv[1];
  if (strcmp(command, "-r") == 0) {
    reset_all_priorities();
    return 0;
  }
  if (strcmp(command, "-rk") == 0) {
    reset_kernel_thread_nice();
    return 0;
  }
  if (strcmp(command, "-s") == 0) {
    pass_state state;  // no activity sample, no own pid: the first values are logged
    throttle_pass(state);
    return 0;
  }
  if (strcmp(command, "-t") == 0) return set_by_name(argc, argv);
  if (strcmp(command, "-c") == 0) return set_foreground(argc, argv);
  say(wrong_command_message);
  return 0;
}
