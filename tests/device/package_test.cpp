// The module zip for root managers: its layout, its bytes, and its boot script.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

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

// Text for a single-quoted shell word.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Packs the module again in dir with make_module.cmake, as the build does,
// from the binaries of the built zip, for this version and release host:
// dir/vmk-module-VERSION.zip, its stage in dir/stage, what the host serves in
// dir/release. The script's exit status.
int pack_again(const std::string& dir, const std::string& version, const std::string& host) {
  if (!exists(dir + "/bin/vmkd") && shell("cd '" + dir + "' && cmake -E tar xf '" + module_zip() +
                                          "' bin/vmkd bin/calmd bin/vmktrace bin/vmkctl") != 0)
    return -1;
  return shell("cmake -DSOURCE=" VMK_PACKAGE_SOURCE " -DVERSION=" + quoted(version) + " -DRELEASE_URL=" + quoted(host) +
               " -DCHANGELOG=" VMK_CHANGELOG " -DRELEASE_DIR='" + dir + "/release' -DVMKD='" + dir +
               "/bin/vmkd' -DCALMD='" + dir + "/bin/calmd' -DVMKTRACE='" + dir + "/bin/vmktrace' -DVMKCTL='" + dir +
               "/bin/vmkctl' -DSTAGE='" + dir + "/stage' -DZIP='" + dir + "/vmk-module-" + version +
               ".zip' -P " VMK_PACKAGE_SOURCE "/make_module.cmake >/dev/null 2>&1");
}

// The value of a module.prop line ("" when absent).
std::string prop_value(const std::string& prop, const std::string& key) {
  const size_t at = prop.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  const size_t from = at + key.size() + 2;
  return prop.substr(from, prop.find('\n', from) - from);
}

TEST(Package, SameBytesWhenPackedAgain) {
  const std::string dir = fresh_dir();
  ASSERT_EQ(0, pack_again(dir, VMK_VERSION, VMK_RELEASE_URL));
  EXPECT_EQ(read_file(module_zip()), read_file(dir + "/vmk-module-" VMK_VERSION ".zip"));
  shell("rm -rf '" + dir + "'");
}

// With a release host, module.prop names its update.json, and the folder of
// what the host serves holds the zip, the changelog and update.json in the
// managers' format; without one, neither.
TEST(Package, UpdatesThroughTheRootManagersOnlyWithAReleaseHost) {
  const struct {
    const char* host;
    const char* base;  // where the host serves the files; "" for none
  } cases[] = {
      {"", ""},
      {"https://example.org/vmk/", "https://example.org/vmk"},
      {"https://dl.example.net:8443/releases/vmk", "https://dl.example.net:8443/releases/vmk"},
  };
  const std::string zip_name = "vmk-module-" VMK_VERSION ".zip";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    const std::string dir = fresh_dir();
    ASSERT_EQ(0, pack_again(dir, VMK_VERSION, c.host));
    ASSERT_EQ(0, shell("mkdir '" + dir + "/unpacked' && cd '" + dir + "/unpacked' && cmake -E tar xf ../" + zip_name));
    const std::string prop = read_file(dir + "/unpacked/module.prop");
    const std::string base = c.base;
    if (base.empty()) {
      EXPECT_EQ(std::string::npos, prop.find("updateJson")) << prop;
      EXPECT_FALSE(exists(dir + "/release"));
    } else {
      EXPECT_EQ(base + "/update.json", prop_value(prop, "updateJson"));
      const std::string json = read_file(dir + "/release/update.json");
      // The four fields, versionCode a number (the managers read an Int).
      std::smatch m;
      ASSERT_TRUE(std::regex_match(json, m,
                                   std::regex(R"re(\{\s*"version": "([^"\\]*)",\s*"versionCode": ([0-9]+),\s*)re"
                                              R"re("zipUrl": "([^"\\]*)",\s*"changelog": "([^"\\]*)"\s*\}\n)re")))
          << json;
      EXPECT_EQ(prop_value(prop, "version"), m[1]);
      EXPECT_EQ(prop_value(prop, "versionCode"), m[2]);
      EXPECT_EQ(base + "/" + zip_name, m[3]);
      EXPECT_EQ(base + "/CHANGELOG.md", m[4]);
      EXPECT_EQ(read_file(dir + "/" + zip_name), read_file(dir + "/release/" + zip_name));
      EXPECT_EQ(read_file(VMK_CHANGELOG), read_file(dir + "/release/CHANGELOG.md"));
    }
    shell("rm -rf '" + dir + "'");
  }
}

// A later version has a higher versionCode, within the managers' Int, so a
// manager offers it over the one installed.
TEST(Package, VersionCodesGrowWithTheVersion) {
  const std::string dir = fresh_dir();
  long previous = -1;
  for (const char* version : {"0.1.0", "0.1.1", "0.1.99", "0.2.0", "0.99.99", "1.0.0", "10.0.1", "214747.99.99"}) {
    ASSERT_EQ(0, pack_again(dir, version, "")) << version;
    const long code = atol(prop_value(read_file(dir + "/stage/module.prop"), "versionCode").c_str());
    EXPECT_GT(code, previous) << version;
    EXPECT_LE(code, 2147483647L) << version;
    previous = code;
  }
  shell("rm -rf '" + dir + "'");
}

// Refused before anything is packed: a version whose code another version
// has or that overflows, a host that is not plain https, a release that the
// changelog does not name.
TEST(Package, PackingRefusesWhatWouldMisleadAManager) {
  const struct {
    const char* version;
    const char* host;
  } cases[] = {
      {"1.100.0", ""},  // 2.0.0's code
      {"0.1.100", ""},  // 0.2.0's
      {"0.01.0", ""},   // 0.1.0's
      {"214748.0.0", ""},
      {"1.2", ""},
      {"1.2.3.4", ""},
      {VMK_VERSION, "http://example.org/vmk"},
      {VMK_VERSION, "https://example.org/a b"},
      {VMK_VERSION, "https://example.org/\"x"},
      {VMK_VERSION, "https://example.org/x\\y"},
      {VMK_VERSION, "https://example.org/x?v=1"},
      {VMK_VERSION, "https://"},
      {"9.9.9", "https://example.org/vmk"},
  };
  for (const auto& c : cases) {
    const std::string dir = fresh_dir();
    EXPECT_NE(0, pack_again(dir, c.version, c.host)) << c.version << " " << c.host;
    EXPECT_FALSE(exists(dir + "/vmk-module-" + c.version + ".zip")) << c.version << " " << c.host;
    EXPECT_FALSE(exists(dir + "/release")) << c.version << " " << c.host;
    shell("rm -rf '" + dir + "'");
  }
}

TEST(Package, BootScriptStartsEachDaemonOnce) {
  if (emulated()) GTEST_SKIP() << "the boot script starts the packed binaries directly; emulated ones cannot be";
  in_sandbox([] {
    ASSERT_TRUE(install_module(module_zip(), "/tmp/module"));
    const std::string vmkd = "/tmp/module/bin/vmkd", calmd = "/tmp/module/bin/calmd";
    // Not started before the boot has completed.
    const pid_t waiting =
        start_command("/system/bin/sh", {"sh", "/tmp/module/service.sh"}, std::string(control_dir) + "/service.out");
    usleep(500000);
    EXPECT_TRUE(pids_of_program(vmkd).empty());
    write_file(std::string(control_dir) + "/prop.sys.boot_completed", "1\n");
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
    EXPECT_EQ("", read_file(std::string(control_dir) + "/service.out"));
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
    write_file(std::string(control_dir) + "/prop.sys.boot_completed", "1\n");
    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/service.sh"}).status);
    EXPECT_TRUE(
        wait_for([&] { return pids_of_program(vmkd).size() == 3 && pids_of_program(calmd).size() == 1; }, 10000));
    EXPECT_EQ(0, run_command("/system/bin/sh", {"sh", "/tmp/module/uninstall.sh"}).status);
    EXPECT_TRUE(wait_for([&] { return pids_of_program(vmkd).empty() && pids_of_program(calmd).empty(); }, 5000));
    EXPECT_EQ('S', state_of(app));
  });
}

}  // namespace
