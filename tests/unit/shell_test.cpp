#include "shell.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

// A daemon started with its standard input and output closed gets
// descriptors 0 and 1 for the output pipe.
TEST(Shell, OutputArrivesWithTheStandardStreamsClosed) {
  const pid_t child = fork();
  if (child == 0) {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    char out[64] = "";
    const long n = stream_shell_output(
        "echo focused", 5000,
        [](void* context, const char* data, size_t length) {
          strncat(static_cast<char*>(context), data, length < 63 ? length : 63);
        },
        out);
    _exit(n == 8 && strcmp(out, "focused\n") == 0 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A command still running at the deadline is killed, and what it printed
// so far is no answer.
TEST(Shell, AHungCommandIsKilledAndItsOutputRefused) {
  int pieces = 0;
  EXPECT_EQ(-1, stream_shell_output(
                    "echo part; exec sleep 30", 300,
                    [](void* context, const char*, size_t) { ++*static_cast<int*>(context); }, &pieces));
  EXPECT_EQ(1, pieces);
}

}  // namespace
