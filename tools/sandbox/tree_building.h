// Building a sandbox's tree: the file helpers the namespace code and the fake
// Android share, and the fake Android's steps that the namespace code calls.
#pragma once

#include <sys/types.h>

#include <string>

namespace sandbox {

struct options;

bool fail(const char* what, const std::string& path);  // says why on stderr; false
bool make_dirs(const std::string& path, mode_t mode = 0755);
bool make_file(const std::string& path, const std::string& text, mode_t mode = 0644);
bool bind_file(const std::string& source, const std::string& target);
std::string read_some(const char* path, size_t size);

// The fake device under root: /sys, /dev and /data with their kernel files,
// device nodes and storage, and /system/bin.
bool build_devices(const std::string& root, const options& o);
// /system/bin with the shell and the Android tools both daemons run, and the
// logs of those tools in the control folder.
bool make_android_tools(const std::string& root, const char* shell);
// The fake dumpsys answers as the given Android version does, nothing focused.
void start_android(int android);

}  // namespace sandbox
