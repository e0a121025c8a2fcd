#include "value_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"

namespace {

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
