#include "param_store.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "test_files.h"

namespace {

unsigned mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

TEST(ParamStore, MissingFileIsCreatedWithTheDefault) {
  temp_dir tmp;
  const std::string dir = tmp.file("params");
  const mode_t old_mask = umask(022);
  EXPECT_EQ(2, read_param_in(dir.c_str(), "cur_profile", 2));
  umask(old_mask);
  EXPECT_EQ("2\n", file_text(dir + "/cur_profile"));
  EXPECT_EQ(0777u, mode_of(dir));  // apps must reach the files
  EXPECT_EQ(0777u, mode_of(dir + "/cur_profile"));
}

TEST(ParamStore, ExistingTextIsReadWithPercentI) {
  temp_dir tmp;
  const std::string dir = tmp.path;
  struct {
    const char* text;
    int value;
  } const cases[] = {{"010\n", 8}, {"0x10\n", 16}, {" 42\n", 42}, {"-5\n", -5}, {"word\n", 0}, {"", 0}, {"7", 7}};
  for (const auto& c : cases) {
    put_file(dir + "/k", c.text);
    EXPECT_EQ(c.value, read_param_in(dir.c_str(), "k", 99)) << c.text;
    EXPECT_EQ(c.text, file_text(dir + "/k"));  // never repaired
  }
}

TEST(ParamStore, WriteAndRemove) {
  temp_dir tmp;
  write_param_in(tmp.path.c_str(), "enable_boost", 1);
  EXPECT_EQ("1\n", file_text(tmp.file("enable_boost")));
  EXPECT_EQ(0777u, mode_of(tmp.file("enable_boost")));
  EXPECT_TRUE(remove_param_in(tmp.path.c_str(), "enable_boost"));
  EXPECT_FALSE(file_exists(tmp.file("enable_boost")));
  EXPECT_TRUE(remove_param_in(tmp.path.c_str(), "enable_boost"));
}

TEST(ParamStore, UnavailableStorageGivesTheDefaultAndCreatesNothing) {
  temp_dir tmp;
  const std::string dir = tmp.file("not-mounted/vmk_params");
  EXPECT_EQ(16384, read_param_in(dir.c_str(), "ram.pr.swap_pages", 16384));
  EXPECT_FALSE(file_exists(tmp.file("not-mounted")));
  EXPECT_FALSE(remove_param_in(dir.c_str(), "x"));
}

TEST(ParamStore, PlantedLinksAreNeverFollowed) {
  temp_dir tmp;
  const std::string victim = tmp.file("victim");
  put_file(victim, "precious\n");
  const std::string dir = tmp.file("params");
  mkdir(dir.c_str(), 0777);
  ASSERT_EQ(0, symlink(victim.c_str(), (dir + "/ram.pr.threshold").c_str()));
  EXPECT_EQ(0, read_param_in(dir.c_str(), "ram.pr.threshold", 5));  // like a file that cannot be opened
  // A write puts a file of its own in the link's place.
  ASSERT_EQ(0, symlink(victim.c_str(), (dir + "/enable_boost").c_str()));
  EXPECT_EQ(0600u, (chmod(victim.c_str(), 0600), mode_of(victim)));
  write_param_in(dir.c_str(), "enable_boost", 1);
  EXPECT_EQ("1\n", file_text(dir + "/enable_boost"));
  EXPECT_EQ("precious\n", file_text(victim));
  EXPECT_EQ(0600u, mode_of(victim));
  // A dangling link is not created through either.
  ASSERT_EQ(0, symlink(tmp.file("made").c_str(), (dir + "/cur_profile").c_str()));
  EXPECT_EQ(0, read_param_in(dir.c_str(), "cur_profile", 2));
  EXPECT_FALSE(file_exists(tmp.file("made")));
  // The folder itself replaced by a link: nothing is written through it.
  const std::string elsewhere = tmp.file("elsewhere");
  mkdir(elsewhere.c_str(), 0755);
  const std::string linked = tmp.file("linked");
  ASSERT_EQ(0, symlink(elsewhere.c_str(), linked.c_str()));
  EXPECT_EQ(2, read_param_in(linked.c_str(), "cur_profile", 2));
  EXPECT_FALSE(file_exists(elsewhere + "/cur_profile"));
  EXPECT_TRUE(remove_param_in(dir.c_str(), "ram.pr.threshold"));  // removes the link itself
  EXPECT_EQ("precious\n", file_text(victim));
}

// The face's writes: over a file or nothing, or an empty folder, which gives
// way; anything else stays as it was and is named, nothing written through it.
TEST(ParamStore, FaceWritesGoOnlyWhereAFileOrAnEmptyFolderStands) {
  temp_dir tmp;
  const std::string victim = tmp.file("victim");
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    param_obstacle obstacle;
    unsigned type_after;  // S_IFMT of what stands there afterwards
  } cases[] = {
      {"nothing", [](const std::string&) {}, param_obstacle::none, S_IFREG},
      {"a file", [](const std::string& p) { put_file(p, "1\n"); }, param_obstacle::none, S_IFREG},
      {"an empty folder", [](const std::string& p) { mkdir(p.c_str(), 0777); }, param_obstacle::none, S_IFREG},
      {"a folder with a file",
       [](const std::string& p) {
         mkdir(p.c_str(), 0777);
         put_file(p + "/kept", "mine\n");
       },
       param_obstacle::full_folder, S_IFDIR},
      {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0666); }, param_obstacle::fifo, S_IFIFO},
      {"a socket",
       [](const std::string& p) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         strncpy(address.sun_path, p.c_str(), sizeof address.sun_path - 1);
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
         close(fd);
       },
       param_obstacle::socket, S_IFSOCK},
      {"a device", [](const std::string& p) { mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)); },
       param_obstacle::device, S_IFCHR},
      {"a link", [&](const std::string& p) { symlink(victim.c_str(), p.c_str()); }, param_obstacle::link, S_IFLNK},
  };
  for (const auto& c : cases) {
    put_file(victim, "precious\n");
    const std::string dir = tmp.file("params");
    const std::string path = dir + "/cur_profile";
    mkdir(dir.c_str(), 0777);
    c.make(path);
    struct stat st;
    if (c.type_after == S_IFCHR && lstat(path.c_str(), &st) != 0) continue;  // no right to make a device here
    EXPECT_EQ(c.obstacle, write_param_over_file_in(dir.c_str(), "cur_profile", 3)) << c.what;
    ASSERT_EQ(0, lstat(path.c_str(), &st)) << c.what;
    EXPECT_EQ(c.type_after, st.st_mode & S_IFMT) << c.what;
    if (c.type_after == S_IFREG) {
      EXPECT_EQ("3\n", file_text(path)) << c.what;
    }
    if (c.type_after == S_IFDIR) {
      EXPECT_EQ("mine\n", file_text(path + "/kept")) << c.what;
    }
    EXPECT_EQ("precious\n", file_text(victim)) << c.what;
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
