#include "value_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"

namespace {

int log_to(const log_destinations& where, const char* format, ...) __attribute__((format(printf, 2, 3)));
int log_to(const log_destinations& where, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = log_line_to(where, format, args);
  va_end(args);
  return r;
}

TEST(ReadValue, MissingOrEmptyFileLeavesPresetValue) {
  temp_dir dir;
  int value = 42;
  EXPECT_EQ(-1, read_value(dir.file("missing").c_str(), "%i\n", &value));
  EXPECT_EQ(42, value);
  put_file(dir.file("empty"), "");
  EXPECT_EQ(-1, read_value(dir.file("empty").c_str(), "%i\n", &value));
  EXPECT_EQ(42, value);
}

TEST(ReadValue, ReportsHowManyConversionsStored) {
  temp_dir dir;
  struct {
    const char* text;
    int result, first, second;
  } const cases[] = {
      {"word\n", 0, 7, 8},
      {"12 x\n", 1, 12, 8},
      {"12 34\n", 2, 12, 34},
      {" 0x10 010\n", 2, 16, 8},
  };
  for (const auto& c : cases) {
    put_file(dir.file("v"), c.text);
    int first = 7, second = 8;
    EXPECT_EQ(c.result, read_value(dir.file("v").c_str(), "%i %i", &first, &second)) << c.text;
    EXPECT_EQ(c.first, first) << c.text;
    EXPECT_EQ(c.second, second) << c.text;
  }
}

TEST(WriteValue, CreatesTruncatesAndCountsFormattedLength) {
  temp_dir dir;
  const std::string path = dir.file("v");
  EXPECT_EQ(2, write_value(path.c_str(), "%i\n", 5));
  EXPECT_EQ("5\n", file_text(path));
  put_file(path, "a much longer old text\n");
  EXPECT_EQ(7, write_value(path.c_str(), "%s\n", "2,4-7\n"));
  EXPECT_EQ("2,4-7\n\n", file_text(path));
  EXPECT_EQ(-1, write_value(dir.file("no/such/dir").c_str(), "%i\n", 1));
  EXPECT_FALSE(file_exists(dir.file("no")));
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
  const log_destinations where = {kmsg.c_str(), dir.file("log").c_str()};
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
  const log_destinations where = {dir.file("kmsg").c_str(), log.c_str()};
  EXPECT_EQ(-1, log_to(where, "x[f]"));
  EXPECT_EQ("precious\n", file_text(target));

  unlink(log.c_str());
  ASSERT_EQ(0, mkfifo(log.c_str(), 0666));
  EXPECT_EQ(-1, log_to(where, "x[f]"));
}

TEST(OpenSharedFile, RefusesLinksAndNonRegularFiles) {
  temp_dir dir;
  put_file(dir.file("plain"), "1\n");
  ASSERT_EQ(0, symlink(dir.file("plain").c_str(), dir.file("link").c_str()));
  ASSERT_EQ(0, mkfifo(dir.file("fifo").c_str(), 0666));
  put_file(dir.file("other"), "2\n");
  ASSERT_EQ(0, link(dir.file("other").c_str(), dir.file("hard").c_str()));
  const int dfd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  const int plain = open_shared_file(dfd, "plain", O_RDONLY);
  EXPECT_GE(plain, 0);
  close(plain);
  EXPECT_EQ(-1, open_shared_file(dfd, "link", O_RDONLY));
  EXPECT_EQ(-1, open_shared_file(dfd, "fifo", O_RDONLY));
  EXPECT_EQ(-1, open_shared_file(dfd, "fifo", O_WRONLY));
  EXPECT_EQ(-1, open_shared_file(dfd, "hard", O_WRONLY | O_TRUNC));
  EXPECT_EQ("2\n", file_text(dir.file("other")));
  close(dfd);
}

}  // namespace
