// The module installed as a root manager's installer installs it.
#include "sandbox.h"

namespace sandbox {

bool install_module(const std::string& zip, const std::string& dir) {
  if (run_command("mkdir", {"mkdir", "-p", dir}).status != 0) return false;
  if (run_command_in(dir, "cmake", {"cmake", "-E", "tar", "xf", zip}).status != 0) return false;
  const std::string installer =
      "set_perm() { chown \"$2:$3\" \"$1\" && chmod \"$4\" \"$1\"; }\n"
      "set_perm_recursive() { find \"$1\" -type d -exec chmod \"$4\" {} + && find \"$1\" -type f -exec chmod \"$5\" {} "
      "+; }\n"
      "ui_print() { :; }\nabort() { echo \"$1\" >&2; exit 1; }\n"
      "set_perm_recursive \"$MODPATH\" 0 0 0755 0644 && . \"$MODPATH/customize.sh\"\n";
  return run_command("env", {"env", "ARCH=arm64", "MODPATH=" + dir, "/system/bin/sh", "-c", installer}).status == 0;
}

}  // namespace sandbox
