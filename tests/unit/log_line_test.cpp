#include "log_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"

namespace {

int log_to(const log_destinations& where, const char* format, ...) __attribute__((format(printf, 2, 3)));
int log_to(const log_destinations& where, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = write_log_line(where, "[calm]: ", format, args);
  va_end(args);
  return r;
}

TEST(LogLine, MarkerInFormatSelectsTheLogFileAndStaysInTheLine) {
  temp_dir dir;
  const std::string kmsg = dir.file("kmsg"), log = dir.file("calmd.log");
  const log_destinations where = {kmsg.c_str(), log.c_str()};
  put_file(log, "old\n");
  EXPECT_EQ(0, log_to(where, "before [f] after %i", 3));
  EXPECT_EQ(0, log_to(where, "again[f]"));
  EXPECT_EQ("old\n[calm]: before [f] after 3\n[calm]: again[f]\n", file_text(log));
  EXPECT_FALSE(file_exists(kmsg));

  EXPECT_EQ(0, log_to(where, "___Active,_ctxt:%i,nr:%i___", 6500, 3));
  EXPECT_EQ("[calm]: ___Active,_ctxt:6500,nr:3___\n", file_text(kmsg));
  // A marker carried by an argument does not redirect; a trailing newline is doubled.
  EXPECT_EQ(0, log_to(where, "%s (%i)\n", "evil[f]", 9));
  EXPECT_EQ("[calm]: evil[f] (9)\n\n", file_text(kmsg));
}

TEST(LogLine, OverlongMessageIsCutButStaysOneTerminatedLine) {
  temp_dir dir;
  const std::string kmsg = dir.file("kmsg");
  const std::string log = dir.file("log");
  const log_destinations where = {kmsg.c_str(), log.c_str()};
  const std::string big(5000, 'x');
  log_to(where, "%s", big.c_str());
  const std::string line = file_text(kmsg);
  EXPECT_LE(line.size(), 1024u);
  EXPECT_GT(line.size(), 1000u);
  EXPECT_EQ('\n', line.back());
  EXPECT_EQ(0u, line.find("[calm]: xxx"));
}

TEST(LogLine, NeverFollowsALinkOrBlocksOnAFifoPlantedAsTheLogFile) {
  temp_dir dir;
  const std::string target = dir.file("target"), log = dir.file("calmd.log");
  put_file(target, "precious\n");
  ASSERT_EQ(0, symlink(target.c_str(), log.c_str()));
  const std::string kmsg = dir.file("kmsg");
  const log_destinations where = {kmsg.c_str(), log.c_str()};
  EXPECT_EQ(-1, log_to(where, "x[f]"));
  EXPECT_EQ("precious\n", file_text(target));

  unlink(log.c_str());
  ASSERT_EQ(0, mkfifo(log.c_str(), 0666));
  EXPECT_EQ(-1, log_to(where, "x[f]"));
}

}  // namespace
