// A busy background process of the benefit benchmark, in one of two shapes:
// BURN_WORKERS unset or 0, its one thread spins; BURN_WORKERS=N (1 to 16),
// its main thread waits while N worker threads spin, as an Android app's
// work runs off its main thread. argv[0] is its command line; its name is the
// last 15 characters of argv[0]'s last path part, as Android names app processes.
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void* spin(void*) {
  volatile unsigned long count = 0;
  for (;;) count = count + 1;
}

}  // namespace

int main(int, char** argv) {
  const char* base = strrchr(argv[0], '/');
  base = base != nullptr ? base + 1 : argv[0];
  const size_t length = strlen(base);
  prctl(PR_SET_NAME, base + (length > 15 ? length - 15 : 0));
  const char* workers_text = getenv("BURN_WORKERS");
  const int workers = workers_text != nullptr ? atoi(workers_text) : 0;
  if (workers <= 0) spin(nullptr);
  for (int i = 0; i < workers && i < 16; ++i) {
    pthread_t thread;
    pthread_create(&thread, nullptr, spin, nullptr);
    pthread_setname_np(thread, "worker");
  }
  for (;;) pause();
}
