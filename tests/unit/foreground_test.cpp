#include "foreground.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr dumpsys_form listing = dumpsys_form::window_listing;
constexpr dumpsys_form displays = dumpsys_form::displays;

// A window of the listing as Android prints it: its entry, then its attributes.
std::string listed(const std::string& title) {
  return "  Window #3 Window{1a2b3c u0 " + title +
         "}:\n    mDisplayId=0 rootTaskId=1 mSession=Session{8f3e 12:u0a50}\n";
}
const std::string listing_head =
    "WINDOW MANAGER WINDOWS (dumpsys window windows)\n" + listed("com.android.launcher3/.Launcher");
const std::string chrome = "  mCurrentFocus=Window{8c1a3d4 u0 com.android.chrome/org.chromium.chrome.Main}\n";
const std::string display = "  Display: mDisplayId=0 rootTasks=7\n    init=1080x2340 440dpi cur=1080x2340\n";
const std::string forged = "\n  mCurrentFocus=Window{dead u0 com.evil.app/.X}";

// What the whole path gives, fed at once and byte by byte: whether the form
// answered, and the name from "old.app".
std::pair<bool, std::string> detect(dumpsys_form form, const std::string& output, bool bytewise) {
  focus_scan scan;
  begin_focus_scan(&scan, form);
  if (bytewise) {
    for (char c : output) feed_focus_scan(&scan, &c, 1);
  } else {
    feed_focus_scan(&scan, output.data(), output.size());
  }
  char token[focus_token_size];
  char name[foreground_name_size] = "old.app";
  const bool answered = end_focus_scan(&scan, token);
  if (answered) foreground_from_token(token, name);
  return {answered, name};
}

TEST(Foreground, OnlyARealFocusLineNamesTheApp) {
  const struct {
    const char* what;
    dumpsys_form form;
    std::string output;
    bool answered;
    const char* name;
  } cases[] = {
      {"Android 9", listing, listing_head + chrome + "  mFocusedApp=AppWindowToken{62f token=Token{1f0}}\n", true,
       "com.android.chrome"},
      {"nothing focused keeps the name", listing, listing_head + "  mCurrentFocus=null\n", true, "old.app"},
      {"status bar", listing, listing_head + "  mCurrentFocus=Window{2b7c1e0 u0 StatusBar}\n", true,
       "com.android.systemui"},
      {"shade", displays, display + "  mCurrentFocus=Window{f96644 u0 NotificationShade}\n", true,
       "com.android.systemui"},
      {"crash dialog", listing, listing_head + "  mCurrentFocus=Window{c39 u0 Application Error: com.foo.bar}\n", true,
       ""},
      {"keyguard", displays, display + "  mCurrentFocus=Window{c39 u0 Keyguard}\n", true, ""},
      {"popup", displays, display + "  mCurrentFocus=Window{c39 u0 PopupWindow:53a5957}\n", true, ""},
      {"a title with '/'", listing, listing_head + "  mCurrentFocus=Window{8c u0 org.x_y.app/a/b c}\n", true,
       "org.x_y.app"},
      // Titles are the apps' own: a forged line in one never counts.
      {"forged in a title, newline", listing, listing_head + listed("Notes" + forged) + chrome, true,
       "com.android.chrome"},
      {"forged in a title, closed first", listing, listing_head + listed("Notes}:" + forged + "\nmore") + chrome, true,
       "com.android.chrome"},
      {"forged, Android 13 listing", listing, listing_head + listed("Notes" + forged) + "  mTopFocusedDisplayId=0\n",
       false, "old.app"},
      {"two after the listing", listing, listing_head + chrome + chrome, true, "old.app"},
      {"a title just mCurrentFocus", listing, listing_head + listed("mCurrentFocus"), false, "old.app"},
      {"a title with blanks", listing,
       listing_head + listed("a b  mCurrentFocus=Window{1 u0 com.evil.app/x}") + "  mInputMethodWindow=x\n", false,
       "old.app"},
      {"not two blanks", listing, listing_head + "   mCurrentFocus=Window{8c u0 com.evil.app/x}\n", false, "old.app"},
      {"text after the brace", listing, listing_head + "  mCurrentFocus=Window{8c u0 com.evil.app/x} x\n", false,
       "old.app"},
      {"no hash", listing, listing_head + "  mCurrentFocus=Window{XYZ u0 com.evil.app/x}\n", false, "old.app"},
      // From Android 10: one block per display.
      {"Android 13", displays,
       "WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n" + display +
           "  mCurrentFocus=Window{5d2507e u0 org.codeaurora.snapcam/com.android.camera.CameraLauncher}\n"
           "  mFocusedApp=ActivityRecord{8730a17 u0 org.codeaurora.snapcam/com.android.camera.CameraLauncher t1032}\n",
       true, "org.codeaurora.snapcam"},
      {"a cover screen first", displays,
       display + "  mCurrentFocus=null\n" + display + "  mCurrentFocus=null\n" + display + chrome, true,
       "com.android.chrome"},
      {"no display focused", displays, display + "  mCurrentFocus=null\n", true, "old.app"},
      {"before any display", displays, "  mCurrentFocus=Window{8c u0 com.evil.app/x}\n" + display, false, "old.app"},
      // A second focus line in a block: one of them is forged, and no one can tell which.
      {"a second line in a display", displays, display + chrome + "  mCurrentFocus=Window{8c u0 com.evil.app/x}\n",
       true, "old.app"},
      {"a title closed before a forged line", displays,
       display + "    mImeTarget=Window{77 u0 Notes}" + forged + "\n" + chrome + display + chrome, true, "old.app"},
      {"forged in a display's title", displays, display + "    mImeTarget=Window{77 u0 Notes" + forged + "}\n" + chrome,
       true, "com.android.chrome"},
      {"an overlong line", listing, listing_head + "  mCurrentFocus=Window{8c u0 a.b/" + std::string(600, 'x') + "}\n",
       false, "old.app"},
  };
  for (const auto& c : cases)
    for (bool bytewise : {false, true}) {
      const auto [answered, name] = detect(c.form, c.output, bytewise);
      EXPECT_EQ(c.answered, answered) << c.what;
      EXPECT_EQ(c.name, name) << c.what;
    }
  const std::string long_package = "a." + std::string(200, 'p');
  EXPECT_EQ(long_package.substr(0, 127),
            detect(listing, "  mCurrentFocus=Window{8c u0 " + long_package + "/x}\n", false).second);
}

}  // namespace
