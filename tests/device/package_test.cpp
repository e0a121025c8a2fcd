// The module zip for root managers: its layout, its bytes, and its boot script.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "device_support.h"

namespace {

using namespace sandbox;

// The release build's package, or the one VMK_MODULE_ZIP names (the Arm one).
std::string module_zip() {
  const char* env = getenv("VMK_MODULE_ZIP");
  return env != nullptr && *env ? env : VMK_MODULE_ZIP;
}

std::string fresh_dir() {
  char pattern[] = "/tmp/vmk-package.XXXXXX";
  return mkdtemp(pattern);
}

int shell(const std::string& command) { return system(command.c_str()); }

TEST(Package, LayoutModesAndModuleProperties) {
  const std::string dir = fresh_dir();
  ASSERT_EQ(0, shell("cd '" + dir + "' && cmake -E tar xf '" + module_zip() + "'"));
  struct {
    const char* path;
    unsigned mode;
  } const entries[] = {
      {"META-INF/com/google/android/update-binary", 0755},
      {"META-INF/com/google/android/updater-script", 0644},
      {"bin/vmkd", 0755},
      {"bin/calmd", 0755},
      {"bin/vmktrace", 0755},
      {"bin/vmkctl", 0755},
      {"service.sh", 0755},
      {"uninstall.sh", 0755},
      {"action.sh", 0755},
      {"control.sh", 0755},
      {"customize.sh", 0644},
      {"daemons.sh", 0644},
      {"module.prop", 0644},
      {"webroot/index.html", 0644},
      {"webroot/style.css", 0644},
      {"webroot/app.js", 0644},
  };
  for (const auto& e : entries) EXPECT_EQ(e.mode, file_mode(dir + "/" + e.path)) << e.path;
  const std::string prop = read_file(dir + "/module.prop");
  for (const std::string line : {"id=vmk\n", "version=v" VMK_VERSION "\n", "versionCode=", "author=", "description="})
    EXPECT_NE(std::string::npos, prop.find(line)) << line;
  EXPECT_EQ("#MAGISK\n", read_file(dir + "/META-INF/com/google/android/updater-script"));
  shell("rm -rf '" + dir + "'");
}

TEST(Package, SameBytesWhenPackedAgain) {
  const std::string dir = fresh_dir();
  const std::string bin = module_zip().substr(0, module_zip().rfind('/'));
  const std::string again = dir + "/again.zip";
  ASSERT_EQ(0, shell("cd '" + dir + "' && cmake -E tar xf '" + module_zip() +
                     "' bin/vmkd bin/calmd bin/vmktrace bin/vmkctl"));
  ASSERT_EQ(0, shell("cmake -DSOURCE=" VMK_PACKAGE_SOURCE " -DPROP=" VMK_MODULE_PROP " -DVMKD='" + dir +
                     "/bin/vmkd' -DCALMD='" + dir + "/bin/calmd' -DVMKTRACE='" + dir + "/bin/vmktrace' -DVMKCTL='" +
                     dir + "/bin/vmkctl' -DSTAGE='" + dir + "/stage' -DZIP='" + again +
                     "' -P " VMK_PACKAGE_SOURCE "/make_module.cmake"));
  EXPECT_EQ(read_file(module_zip()), read_file(again));
  shell("rm -rf '" + dir + "'");
}

TEST(Package, BootScriptStartsEachDaemonOnce) {
  if (emulated()) GTEST_SKIP() << "the boot script starts the packed binaries directly; emulated ones cannot be";
  in_sandbox([] {
    ASSERT_TRUE(install_module(module_zip(), "/tmp/module"));
    const std::string vmkd = "/tmp/module/bin/vmkd", calmd = "/tmp/module/bin/calmd";
    // Not started before the boot has completed.
    const pid_t waiting = start_command("/system/bin/sh", {"sh", "/tmp/module/service.sh"}, "/run/sim/service.out");
    usleep(500000);
    EXPECT_TRUE(pids_of_program(vmkd).empty());
    write_file("/run/sim/prop.sys.boot_completed", "1\n");
    EXPECT_TRUE(
        wait_for([&] { return pids_of_program(vmkd).size() == 3 && pids_of_program(calmd).size() == 1; }, 10000));
    stop(waiting);

    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/service.sh"}).status);
    usleep(500000);
    EXPECT_EQ(3u, pids_of_program(vmkd).size());
    EXPECT_EQ(1u, pids_of_program(calmd).size());

    write_file("/data/media/0/vmk_params/remove-on-uninstall", "");
    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/uninstall.sh"}).status);
    EXPECT_TRUE(wait_for([&] { return pids_of_program(vmkd).empty() && pids_of_program(calmd).empty(); }, 5000));
    EXPECT_FALSE(exists("/data/media/0/vmk_params"));
    EXPECT_EQ("", read_file("/run/sim/service.out"));
  });
}

TEST(Package, ModuleScriptsAreNotFooledByACommandLine) {
  if (emulated()) GTEST_SKIP() << "the boot script starts the packed binaries directly; emulated ones cannot be";
  in_sandbox([] {
    ASSERT_TRUE(install_module(module_zip(), "/tmp/module"));
    const std::string vmkd = "/tmp/module/bin/vmkd", calmd = "/tmp/module/bin/calmd";
    // An app that names both programs in its command line runs neither: it
    // keeps neither from starting, and is not stopped with them.
    const pid_t app = spawn({"app", {"app", vmkd, calmd}});
    write_file("/run/sim/prop.sys.boot_completed", "1\n");
    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/service.sh"}).status);
    EXPECT_TRUE(
        wait_for([&] { return pids_of_program(vmkd).size() == 3 && pids_of_program(calmd).size() == 1; }, 10000));
    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/uninstall.sh"}).status);
    EXPECT_TRUE(wait_for([&] { return pids_of_program(vmkd).empty() && pids_of_program(calmd).empty(); }, 5000));
    EXPECT_EQ('S', state_of(app));
  });
}

}  // namespace
