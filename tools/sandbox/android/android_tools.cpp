// The fake Android tools both daemons run: dumpsys (its window listing as
// Android 9 and 13 print it, steered by the test), setprop and getprop.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "sandbox.h"
#include "tree_building.h"

namespace sandbox {
namespace {

// What the fake dumpsys shows. It lives in the sandbox's pid 1, the test body,
// which alone calls the functions that change it.
struct android_answers {
  int android = 13;
  std::vector<std::string> focus = {""};
  std::string listing;
};

android_answers& android_state() {
  static android_answers state;
  return state;
}

// Logs each run with its scheduling, then prints the answer prepared for its arguments.
std::string dumpsys_script() {
  const std::string sim = control_dir;
  return "#!/bin/sh\n"
         "args=\"$*\"\n"
         "read -r stat </proc/$$/stat\n"
         "set -- ${stat##*) }\n"
         "shift 16; nice=$1; shift 22; policy=$1\n"
         "echo \"$args policy=$policy nice=$nice\" >>" +
         sim +
         "/dumpsys.log\n"
         "case \"$args\" in\n"
         "  'window windows') cat " +
         sim +
         "/dumpsys.windows ;;\n"
         "  'window displays') cat " +
         sim +
         "/dumpsys.displays ;;\n"
         "  window) cat " +
         sim +
         "/dumpsys.window ;;\n"
         "esac 2>/dev/null\n";
}

std::string window_of(const std::string& title, const char* hash) {
  return "Window{" + std::string(hash) + " u0 " + title + "}";
}

// The window listing and the display contents as Android prints them: the
// focus line moved from the first to the second with Android 10.
void write_dumpsys_answers() {
  const bool per_display = android_state().android >= 10;
  std::string focus_lines;
  std::string app;  // the activity behind the first focus, for the other lines
  for (const std::string& title : android_state().focus)
    if (app.empty() && title.find('/') != std::string::npos) app = title;
  const std::string focused_app = app.empty() ? "null" : "ActivityRecord{8730a17 u0 " + app + " t1032}";

  std::string list = "WINDOW MANAGER WINDOWS (dumpsys window windows)\n";
  list += "  Window #0 " + window_of("com.android.systemui.ImageWallpaper", "a51c0d2") + ":\n";
  list += "    mDisplayId=0 rootTaskId=1 mSession=Session{8f3e2a1 1234:u0a10050} mClient=android.os.BinderProxy@4a\n";
  list += android_state().listing;
  int number = 1;
  for (const std::string& title : android_state().focus)
    if (!title.empty())
      list +=
          "  Window #" + std::to_string(number++) + " " + window_of(title, "5d2507e") +
          ":\n    mDisplayId=0 rootTaskId=12 mSession=Session{4b2 2048:u0a10120} mClient=android.os.BinderProxy@6\n";
  if (per_display) {
    list += "  mTopFocusedDisplayId=0\n";
    if (!app.empty()) list += "  imeLayeringTarget in display# 0 " + window_of(app, "edc61c1") + "\n";
    list += "  mInputMethodWindow=" + window_of("InputMethod", "aea3ecf") + "\n";
  } else {
    const std::string& first = android_state().focus.empty() ? std::string() : android_state().focus.front();
    list += "  mCurrentFocus=" + (first.empty() ? "null" : window_of(first, "8c1a3d4")) + "\n";
    list +=
        "  mFocusedApp=" + (app.empty() ? "null" : "AppWindowToken{62f4c3a token=Token{1f0a7b8 " + focused_app + "}}") +
        "\n";
  }

  std::string displays = "WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n";
  for (size_t id = 0; id < (per_display ? android_state().focus.size() : 1); ++id) {
    displays += "  Display: mDisplayId=" + std::to_string(id) + " rootTasks=7\n";
    displays += "    init=1080x2340 440dpi cur=1080x2340 app=1080x2214 rng=1080x1017-2214x2151\n";
    if (!per_display) continue;
    const std::string& title = android_state().focus[id];
    displays += "  mCurrentFocus=" + (title.empty() ? "null" : window_of(title, "5d2507e")) + "\n";
    displays += "  mFocusedApp=" + (title.find('/') == std::string::npos ? "null" : focused_app) + "\n";
  }

  const std::string sim = control_dir;
  for (const auto& [leaf, text] :
       {std::pair{"windows", list}, std::pair{"displays", displays},
        std::pair{"window", "WINDOW MANAGER POLICY STATE (dumpsys window policy)\n" + list += displays}}) {
    const std::string path = sim + "/dumpsys." + leaf;
    // Renamed into place: a dumpsys running now reads the old answer or the new.
    if (write_file(path + ".new", text)) rename((path + ".new").c_str(), path.c_str());
  }
}

}  // namespace

bool make_android_tools(const std::string& root, const char* shell) {
  const std::string bin = root + "/system/bin";
  const std::string sim = std::string(control_dir);
  return make_dirs(bin) && symlink(shell, (bin + "/sh").c_str()) == 0 &&
         make_file(bin + "/dumpsys", dumpsys_script(), 0755) &&
         make_file(bin + "/setprop", "#!/bin/sh\necho \"$*\" >>" + sim + "/setprop.log\n", 0755) &&
         make_file(bin + "/getprop", "#!/bin/sh\ncat " + sim + "/prop.\"$1\" 2>/dev/null\n", 0755) &&
         make_file(root + sim + "/dumpsys.log", "") && make_file(root + sim + "/setprop.log", "");
}

void start_android(int android) {
  android_state() = {};
  android_state().android = android;
  write_dumpsys_answers();
}

bool install_android_tools(const char* shell, int android) {
  if (!make_dirs(control_dir) || !make_android_tools("", shell)) return false;
  start_android(android);
  return true;
}

std::string setprop_log() { return read_file(std::string(control_dir) + "/setprop.log"); }
std::string dumpsys_log() { return read_file(std::string(control_dir) + "/dumpsys.log"); }

void set_focused_windows(const std::vector<std::string>& titles) {
  android_state().focus = titles;
  write_dumpsys_answers();
}

void set_focused_app(const std::string& package) { set_focused_windows({package + "/" + package + ".MainActivity"}); }

void set_window_listing(const std::string& lines) {
  android_state().listing = lines;
  write_dumpsys_answers();
}

}  // namespace sandbox
