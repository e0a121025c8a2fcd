#include "record_log.h"

#include <gtest/gtest.h>

namespace {

using namespace replay;

// Each kind's line as the feeder has always written it, so the record log of
// an older build reads the same.
TEST(RecordLog, EveryKindFormatsToItsLineAndReadsBack) {
  fed_read stat{1250, 2002, "stat", {900000, 200, 300000, 1600000, 20000, 4000, 6000, 0}, 50000150, 3, ""};
  const struct {
    log_record record;
    const char* line;
  } cases[] = {
      {stat, "R\t1250\t2002\tstat\t900000\t200\t300000\t1600000\t20000\t4000\t6000\t0\t50000150\t3"},
      {fed_read{7, 2002, "loadavg", {}, 0, 0, "1.10 2.00 1.50 1/1180 31000\n"},
       "R\t7\t2002\tloadavg\t1.10 2.00 1.50 1/1180 31000\\n"},
      {output_write{9, 2002, "/dev/cpuset/top-app/cpus", "0-7\n"}, "W\t9\t2002\t/dev/cpuset/top-app/cpus\t0-7\\n"},
      {kernel_line{10, "[calm]: a\tb\\c\x01"}, "K\t10\t[calm]: a\\tb\\\\c\\x01"},
      {stand_in_started{11, 3, 1500, 1500}, "S\t11\t3\t1500\t1500"},
      {stand_in_ended{12, 3}, "X\t12\t3"},
      {scheduling_seen{13, 0, -20, 3}, "N\t13\t0\t-20\t3"},
      {focus_named{14, ""}, "F\t14\t"},
      {focus_named{15, "com.evil\napp"}, "F\t15\tcom.evil\\napp"},
      {burn_shares{16, 1500, 1125}, "B\t16\t1500\t1125"},
      {daemon_started{"calmd", 2001}, "D\tcalmd\t2001"},
      {daemon_spent{2002, "vmkd", 22, -1}, "C\t2002\tvmkd\t22\t-1"},
      {stand_in_spent{6, 890}, "A\t6\t890"},
      {replay_ended{54000000}, "T\t54000000"},
      {feeder_fault{17, "/run/sim/vmkd.out: x\r\n"}, "!\t17\t/run/sim/vmkd.out: x\\r\\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.line, format_record(c.record));
    log_record back;
    ASSERT_TRUE(parse_record(c.line, &back)) << c.line;
    EXPECT_EQ(c.record, back) << c.line;
  }
}

// Only the writer's own lines are read: anything else is no record at all.
TEST(RecordLog, LinesTheWriterDoesNotWriteAreRefused) {
  const char* lines[] = {
      "",
      "Z\t1",    // no such kind
      "TT\t1",   // a kind is one byte
      "T",       // a field too few
      "T\t1\t",  // a field too many
      "T\t",     // an empty number
      "T\t01",   // a leading zero
      "T\t+1",
      "T\t-0",
      "T\t1x",
      "S\t11\t3\t99999999999\t1500",                     // past an int
      "C\t2002\tvmkd\t-\t1800",                          // a lone minus
      "K\t10\ta\\qb",                                    // an escape the writer never makes
      "K\t10\ta\\x41",                                   // a byte that needs no escape
      "K\t10\ta\x01",                                    // a raw control byte
      "F\t14\tcom.app\\",                                // a cut escape
      "R\t1\t2\tstat\t1\t2\t3\t4\t5\t6\t7\t8\t9",        // a counter short
      "R\t1\t2\tstat\t1\t2\t3\t4\t5\t6\t7\t8\t9\t1\t1",  // a field too many
      "R\t1\t2\tstat\t-1\t2\t3\t4\t5\t6\t7\t8\t9\t1",    // a counter below 0
      "R\t1\t2\tloadavg\t1.10 2.00\t1.50",               // a text in two fields
      "R\t1\t2\tloadavg",
  };
  for (const char* line : lines) {
    log_record r;
    EXPECT_FALSE(parse_record(line, &r)) << line;
  }
}

}  // namespace
