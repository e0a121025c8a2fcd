#include "thread_step.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <vector>

namespace {

TEST(ThreadStep, AThreadMovesWhenItHadTheMainThreadsValuesOutsideRealTime) {
  const struct {
    sched_values main, thread;
    bool moves;
    const char* why;
  } cases[] = {
      {{0, SCHED_OTHER}, {0, SCHED_OTHER}, true, "in step"},
      {{12, SCHED_BATCH}, {12, SCHED_BATCH}, true, "in step, throttled"},
      {{19, SCHED_IDLE}, {19, SCHED_IDLE}, true, "in step under SCHED_IDLE"},
      {{0, SCHED_OTHER}, {10, SCHED_OTHER}, false, "set apart at a background nice"},
      {{0, SCHED_OTHER}, {-4, SCHED_OTHER}, false, "set apart at a raised nice"},
      {{12, SCHED_BATCH}, {12, SCHED_OTHER}, false, "the same nice under another policy"},
      {{19, SCHED_IDLE}, {0, SCHED_IDLE}, false, "SCHED_IDLE at another nice"},
      {{0, SCHED_OTHER}, {0, SCHED_FIFO}, false, "real-time beside a normal main thread"},
      {{0, SCHED_FIFO}, {0, SCHED_FIFO}, false, "real-time like the main thread"},
      {{0, SCHED_RR}, {0, SCHED_RR}, false, "round-robin like the main thread"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.moves, moves_with_main(c.main, c.thread)) << c.why;
}

TEST(ThreadStep, ThreadsAreWalkedOnlyWhenTheMainThreadsValuesChange) {
  const struct {
    sched_values before;
    sched_change change;
    bool walk;
    const char* why;
  } cases[] = {
      {{0, SCHED_OTHER}, nice_then_policy(3, SCHED_OTHER), true, "a new nice value"},
      {{3, SCHED_OTHER}, nice_then_policy(3, SCHED_BATCH), true, "a new policy"},
      {{0, SCHED_OTHER}, policy_then_nice(SCHED_FIFO, 10, 0), true, "to real-time"},
      {{3, SCHED_BATCH}, nice_then_policy(3, SCHED_BATCH), false, "held where it is"},
      {{19, SCHED_OTHER}, nice_change(25), false, "a nice value past 19 is 19"},
      {{-4, SCHED_IDLE}, policy_change(SCHED_IDLE, 0), false, "the policy it has, nice untouched"},
      {{0, SCHED_FIFO}, policy_then_nice(SCHED_OTHER, 0, -4), false, "from real-time: no thread is in step"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.walk, threads_to_walk(c.before, c.change)) << c.why;
}

// A process as /proc lists it: its threads' values, some ended by the time they are read.
struct fake_tasks {
  struct task {
    int tid;
    sched_values values;
    bool ended;
  };
  std::vector<task> tasks;
  std::vector<int> changed;
  int walks = 0;

  template <class Visit>
  void for_each_thread(int, Visit&& visit) {
    ++walks;
    for (const task& t : tasks) visit(t.tid);
  }
  bool read(int, int tid, sched_values* out) const {
    for (const task& t : tasks)
      if (t.tid == tid && !t.ended) {
        *out = t.values;
        return true;
      }
    return false;
  }
  void apply(int tid, const sched_change&) { changed.push_back(tid); }
};

TEST(ThreadStep, TheChangeReachesTheMainThreadThenTheThreadsInStep) {
  fake_tasks p;
  p.tasks = {{100, {0, SCHED_OTHER}, false}, {101, {0, SCHED_OTHER}, false}, {102, {10, SCHED_OTHER}, false},
             {103, {0, SCHED_FIFO}, false},  {104, {0, SCHED_OTHER}, true},  {105, {0, SCHED_OTHER}, false}};
  change_process_with(p, 100, {0, SCHED_OTHER}, nice_then_policy(12, SCHED_BATCH));
  EXPECT_EQ((std::vector<int>{100, 101, 105}), p.changed) << "the main thread once, first; 104 ended";

  fake_tasks held = p;
  held.changed.clear();
  held.walks = 0;
  change_process_with(held, 100, {12, SCHED_BATCH}, nice_then_policy(12, SCHED_BATCH));
  EXPECT_EQ(std::vector<int>{100}, held.changed);
  EXPECT_EQ(0, held.walks) << "no thread read when the main thread stays";
}

}  // namespace
