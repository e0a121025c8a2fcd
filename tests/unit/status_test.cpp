#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "status_format.h"

namespace {

// Every process alive at nice 5, started 92 s after boot; pid 999999999 gone.
bool started_at_92_s(int pid, stat_fields* out) {
  if (pid == 999999999) return false;
  out->state = 'S';
  out->nice = 5;
  out->start_ticks = 9200;
  return true;
}

// Of those, pid 4343 has a thread running ahead of its main thread.
bool held_back_4343(int pid, const stat_fields&, int) { return pid == 4343; }

// calmd's lines as /dev/kmsg and dmesg give them: escaped, with times; the
// processes it holds down, by each one's latest line; the newest first.
TEST(Status, CalmdsLinesFromAKernelLog) {
  status_snapshot s;
  calm_log_reader reader(100.0, &s);
  const std::string me = std::to_string(getpid()), parent = std::to_string(getppid());
  const std::string lines[] = {
      "12,400,90000000,-;[calm]: ___Active,_ctxt:0,nr:6___",
      "12,401,90100000,-;[calm]: a\\x5cx0ab (" + me + "): 62% [-1 jiff], => 3>6 (0>0)",
      "12,402,90100000,-;[calm]: gone (999999999): 62% [-1 jiff], => 3>6 (0>0)",
      "12,402,90100000,-;[calm]: early (4242): 62% [-1 jiff], => 3>6 (0>0)",
      "6,403,90200000,-;vmkd: sscaling process is not running...",
      "[   95.000000] [calm]: ___Active,_ctxt:0,nr:1___",
      "[   95.100000] [calm]: x (" + me + "): => 1>0 (0>0)",
      "[   95.100000] [calm]: p (" + parent + "): 5% [-1 jiff], => 3>4 (0>0)",
      "[   95.200000] [calm]: c (" + me + "): parent (init (1)) throttled: 0 => 1.",
      "[   95.300000] [calm]: com.evil.miner (4343): 62% [-1 jiff], => 0>3 (0>0)",
      "not a line of the log at all",
  };
  for (const std::string& line : lines) {
    std::string copy = line;
    reader.add_line(copy.data());
  }
  reader.finish(100, 0, started_at_92_s, held_back_4343);
  ASSERT_EQ(7, s.change_count);
  EXPECT_EQ(getpid(), s.changes[3].line.pid);
  EXPECT_STREQ("x", s.changes[3].line.name);
  EXPECT_NEAR(4.9, s.changes[3].age_s, 1e-9);
  EXPECT_STREQ("a\\x0ab", s.changes[6].line.name);  // as calmd wrote it
  EXPECT_NEAR(5.0, s.last_pass_age_s, 1e-9);
  EXPECT_EQ(2, s.held_down) << "the parent and pid 1 pushed down; this process let back up, 999999999 gone, "
                               "4242 another process since its line, 4343 held back by a thread";
  char why[256];
  explain_change(s.changes[6].line, why, sizeof why);
  EXPECT_STREQ("usage 62: U 50 to 100: N + 3, policy rule 3: OTHER", why);
}

// Down by calmd's line is held down only while the pid is still that process,
// alive, and still down; with suspend between, only a start surely after the
// line names another process.
TEST(Status, HeldDownOnlyWhileTheSameProcessStaysDown) {
  const struct {
    double line_s;
    char state;
    unsigned long long start_ticks;
    int nice, policy;
    double suspended_s;
    bool held;
    const char* why;
  } cases[] = {
      {95.1, 'S', 9000, 10, SCHED_OTHER, 0, true, "started before the line, at nice 10"},
      {95.1, 'R', 9000, 0, SCHED_BATCH, 0, true, "in BATCH"},
      {95.1, 'S', 9000, 0, SCHED_IDLE, 0, true, "in IDLE"},
      {95.1, 'S', 9000, 0, SCHED_OTHER, 0, false, "let back up to nice 0"},
      {95.1, 'S', 9000, -4, SCHED_OTHER, 0, false, "raised above nice 0"},
      {95.1, 'Z', 9000, 10, SCHED_OTHER, 0, false, "a zombie"},
      {95.1, 'X', 9000, 10, SCHED_OTHER, 0, false, "dead"},
      {95.1, 'S', 20000, 10, SCHED_OTHER, 0, false, "started 105 s after the line, no suspend: another process"},
      {95.1, 'S', 20000, 10, SCHED_OTHER, 150, true, "up to 150 s suspended before its start: it may predate the line"},
      {95.1, 'S', 20000, 10, SCHED_OTHER, 100, false, "even after all 100 s suspended it started after the line"},
      {95.1, 'S', 9550, 10, SCHED_OTHER, 0, true, "started less than a second after: the two clocks may differ so"},
      {-1, 'S', 20000, 10, SCHED_OTHER, 0, true, "a line without time: who has the pid cannot be told"},
  };
  for (const auto& c : cases) {
    stat_fields now;
    now.state = c.state;
    now.start_ticks = c.start_ticks;
    now.nice = c.nice;
    now.policy = c.policy;
    EXPECT_EQ(c.held, still_held_down(c.line_s, now, 100, c.suspended_s)) << c.why;
  }
}

// A thread under a normal policy that runs ahead of the main thread keeps the
// process from counting as held down: a thread in step that the change missed.
TEST(Status, AThreadAheadOfTheMainThreadHoldsTheProcessBack) {
  const struct {
    int main_nice, main_policy;
    char state;
    int nice, policy;
    bool back;
    const char* why;
    int lowest_old_nice = -20;  // where calmd's lines for it begin
  } cases[] = {
      {3, SCHED_OTHER, 'R', 3, SCHED_OTHER, false, "in step: moved with it"},
      {3, SCHED_OTHER, 'R', 0, SCHED_OTHER, true, "left at nice 0 by a push to 3"},
      {3, SCHED_OTHER, 'S', 10, SCHED_OTHER, false, "set apart at nice 10, below it"},
      {3, SCHED_OTHER, 'S', -4, SCHED_OTHER, true, "raised ahead of it since calmd began at -20"},
      {3, SCHED_OTHER, 'S', -10, SCHED_FIFO, false, "real-time: neither moved nor counted"},
      {3, SCHED_OTHER, 'S', 0, SCHED_RR, false, "round-robin: neither moved nor counted"},
      {3, SCHED_OTHER, 'Z', 0, SCHED_OTHER, false, "a thread ending"},
      {6, SCHED_OTHER, 'S', 12, SCHED_BATCH, false, "left in BATCH at 12 by a step back up to 6"},
      {15, SCHED_BATCH, 'R', 15, SCHED_BATCH, false, "in step in BATCH"},
      {15, SCHED_BATCH, 'R', 15, SCHED_OTHER, true, "the same nice outside BATCH"},
      {12, SCHED_OTHER, 'R', 12, SCHED_BATCH, false, "the same nice in BATCH, behind it"},
      {19, SCHED_IDLE, 'R', 19, SCHED_OTHER, true, "nice 19 weighs more than IDLE"},
      {19, SCHED_IDLE, 'R', -5, SCHED_IDLE, false, "IDLE beside IDLE, whatever its nice"},
      {0, SCHED_BATCH, 'R', 19, SCHED_IDLE, false, "IDLE beside a main thread in BATCH"},
      {3, SCHED_OTHER, 'S', -4, SCHED_OTHER, false, "raised to -4 before calmd began at 0: set apart", 0},
      {6, SCHED_OTHER, 'R', 3, SCHED_OTHER, true, "left at 3 where calmd began", 3},
      {6, SCHED_OTHER, 'R', 0, SCHED_OTHER, false, "at 0, below where the log's lines begin", 3},
  };
  for (const auto& c : cases) {
    stat_fields main_now, thread;
    main_now.state = 'S';
    main_now.nice = c.main_nice;
    main_now.policy = c.main_policy;
    thread.state = c.state;
    thread.nice = c.nice;
    thread.policy = c.policy;
    EXPECT_EQ(c.back, holds_the_process_back(main_now, thread, c.lowest_old_nice)) << c.why;
  }
}

// Names are the apps' own: on a terminal, nothing in one is shown as other text.
TEST(Status, TextShowsNamesAsBytes) {
  status_snapshot s;
  s.log_read = true;
  s.change_count = 1;
  s.changes[0].line.kind = calm_line_kind::change;
  strcpy(s.changes[0].line.name,
         "a\xe2\x80\xae"
         "b\xc2\x9b"
         "2J\xff");
  s.asked_focus = true;
  strcpy(s.focus, "\xe2\x81\xa6x\xd8\x9c");  // U+2066, U+061C
  static char text[1 << 17];
  ASSERT_GT(format_status_text(s, text, sizeof text), 0);
  EXPECT_NE(nullptr, strstr(text, "a\\xe2\\x80\\xaeb\\xc2\\x9b2J\\xff (0): ")) << text;
  EXPECT_NE(nullptr, strstr(text, "Focused app: \\xe2\\x81\\xa6x\\xd8\\x9c\n")) << text;
}

// Without dumpsys, the focused app is the one calmd last held: a change to
// the hold that the table would not give, not a quiet process let back down.
TEST(Status, TheFocusedAppFromCalmdsLastHold) {
  status_snapshot s;
  calm_log_reader reader(100.0, &s);
  for (const char* line :
       {"[   90.000000] [calm]: com.a (400): => 0>-4 (0>0)", "[   91.000000] [calm]: com.b (401): => -8>-4 (0>0)"}) {
    std::string copy = line;
    reader.add_line(copy.data());
  }
  ASSERT_TRUE(s.has_focus_hold);
  EXPECT_STREQ("com.a", s.focus_hold.line.name);
  EXPECT_NEAR(10.0, s.focus_hold.age_s, 1e-9);
  static char text[1 << 17];
  ASSERT_GT(format_status_json(s, text, sizeof text), 0);
  EXPECT_NE(nullptr, strstr(text, "\"focus_hold\":{\"name\":\"com.a\",\"pid\":400,\"age_s\":10.0}")) << text;
}

// The programs known to write cpuset lists and limits, by their program
// files: only under a system partition, where no app can put a file.
TEST(Status, KnownWritersByTheirProgramFiles) {
  const struct {
    const char* path;
    const char* kind;
  } cases[] = {
      {"/vendor/bin/hw/android.hardware.power-service.pixel-libperfmgr", "power HAL"},
      {"/vendor/bin/hw/android.hardware.power@1.3-service.xiaomi_sdm660-libperfmgr", "power HAL"},
      {"/vendor/bin/hw/android.hardware.powerstats-service.pixel", nullptr},
      {"/vendor/bin/hw/vendor.qti.hardware.perf@2.2-service", "Qualcomm perf HAL"},
      {"/vendor/bin/hw/vendor.qti.hardware.perf-hal-service", "Qualcomm perf HAL"},
      {"/system/vendor/bin/perfd", "Qualcomm perf HAL"},
      {"/system/vendor/bin/perfdump", nullptr},
      {"/vendor/bin/thermal-engine-v2", "thermal engine"},
      {"/vendor/bin/hw/android.hardware.thermal@2.0-service.qti", "thermal HAL"},
      {"/vendor/bin/hw/android.hardware.thermal-service.pixel", "thermal HAL"},
      {"/vendor/bin/hw/vendor.mediatek.hardware.mtkpower@1.0-service", "MediaTek power HAL"},
      {"/system/bin/app_process64", nullptr},
      {"/data/data/com.evil/android.hardware.power-service.pixel", nullptr},
      {"/data/local/tmp/thermal-engine", nullptr},
      {"/vendorx/bin/thermal-engine", nullptr},
      {"thermal-engine", nullptr},
  };
  for (const auto& c : cases) {
    const char* kind = known_writer_kind(c.path);
    EXPECT_STREQ(c.kind, kind) << c.path;
  }
}

// A fixed profile with two values another writer changed: each value with
// whose it is, the writers named as text; with vmkd stopped, nothing judged.
TEST(Status, ValuesWithWhoseTheyAre) {
  status_snapshot s;
  s.vmkd.count = 3;
  s.params[cur_profile] = {true, 2};
  for (int i = 0; i < cpuset_group_count; ++i) strcpy(s.cpus[i], full_setting.cpus[static_cast<size_t>(i)]);
  strcpy(s.cpus[3], "0-7");
  s.has_foreground_window = true;
  strcpy(s.foreground_window, "0-7");
  s.policy0_min = 300000;
  s.policy0_max = 2016000;
  s.policy4_min = 825600;
  s.policy4_max = 2803200;
  status_snapshot stopped = s;
  ASSERT_TRUE(judge_values(&s));
  s.looked_for_writers = true;
  s.writer_count = 1;
  s.writers[0].pid = 1042;
  strcpy(s.writers[0].program, "android.hardware.power-service.pixel\xe2\x80\xae<b>");
  s.writers[0].kind = "power HAL";
  static char text[1 << 17];
  ASSERT_GT(format_status_text(s, text, sizeof text), 0);
  for (const char* line : {
           "  top-app            0-7       vmkd's\n",
           "  foreground         0-7       set by another writer: vmkd never writes this list there in profile 2\n",
           "  foreground_window  0-7       not vmkd's: vmkd does not write this group\n",
           "  policy0 min    300000  not vmkd's: vmkd writes it in profile 0 only\n",
           "  policy0 max   2016000  vmkd's\n",
           "  policy4 max   2803200  set by another writer: vmkd never writes this limit there in profile 2\n",
           "Set by another writer: foreground, policy4 max\n",
           "  Running, and known to write such files: android.hardware.power-service.pixel\\xe2\\x80\\xae<b> (pid "
           "1042, "
           "power HAL)\n",
       })
    EXPECT_NE(nullptr, strstr(text, line)) << line << "\nin:\n" << text;
  ASSERT_GT(format_status_json(s, text, sizeof text), 0);
  for (const char* part : {
           "\"foreground\":\"0-7\",\"system-background\"",
           "\"foreground_window\":\"0-7\"},\"limits\":",
           "\"whose\":{\"cpusets\":{\"top-app\":\"vmkd\",\"restricted\":\"vmkd\",\"audio-app\":\"vmkd\","
           "\"foreground\":\"another\",\"system-background\":\"vmkd\",\"camera-daemon\":\"vmkd\","
           "\"background\":\"vmkd\",\"foreground_window\":\"not_vmkd\"},\"limits\":{\"policy0\":{\"min\":\"not_vmkd\","
           "\"max\":\"vmkd\"},\"policy4\":{\"min\":\"not_vmkd\",\"max\":\"another\"}},"
           "\"writers\":[{\"pid\":1042,\"program\":\"android.hardware.power-service.pixel\\u202e\\u003cb\\u003e\","
           "\"kind\":\"power HAL\"}],\"writer_count\":1}",
       })
    EXPECT_NE(nullptr, strstr(text, part)) << part << "\nin:\n" << text;

  stopped.vmkd.count = 0;
  EXPECT_FALSE(judge_values(&stopped));
  ASSERT_GT(format_status_text(stopped, text, sizeof text), 0);
  EXPECT_EQ(nullptr, strstr(text, "vmkd's\n")) << text;
  EXPECT_NE(nullptr, strstr(text, "  foreground_window  0-7       not vmkd's")) << text;
  ASSERT_GT(format_status_json(stopped, text, sizeof text), 0);
  EXPECT_NE(nullptr, strstr(text, "\"policy4\":{\"min\":null,\"max\":null}},\"writers\":null")) << text;
}

TEST(Status, DescriptionSaysWhatRuns) {
  const struct {
    int vmkd, calmd, profile, held;
    const char* text;
  } cases[] = {
      {3, 1, 0, 3, "running: vmkd load-driven, calmd 3 throttled"},
      {3, 0, 2, 0, "running: vmkd fixed full speed; stopped: calmd"},
      {0, 1, 0, 0, "running: calmd 0 throttled; stopped: vmkd"},
      {0, 0, 3, 0, "stopped: vmkd and calmd"},
  };
  for (const auto& c : cases) {
    status_snapshot s;
    s.vmkd.count = c.vmkd;
    s.calmd.count = c.calmd;
    s.params[cur_profile] = {true, c.profile};
    s.held_down = c.held;
    char text[256];
    ASSERT_GT(format_description(s, text, sizeof text), 0);
    EXPECT_STREQ(c.text, text);
  }
}

}  // namespace
