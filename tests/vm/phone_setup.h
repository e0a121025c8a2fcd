// The throwaway virtual phone (tools/phone_vm/phone-vm.sh): a real Arm kernel, made to
// look like the phone the daemons are for. Real where a mainline kernel is
// real (proc, sysfs, devtmpfs, debugfs, the cgroup v1 cpuset, cpuacct and
// memory hierarchies, cgroup v2, block devices, zram); faked only what it
// cannot have.
#pragma once

#include <string>

namespace phone {

// Where the image puts the programs under test.
inline constexpr const char* vmkd = "/vmk/vmkd";
inline constexpr const char* calmd = "/vmk/calmd";
inline constexpr const char* vmktrace = "/vmk/vmktrace";
inline constexpr const char* params = "/data/media/0/vmk_params/";

// The module, installed where root managers put it, with its own copies of
// the programs.
inline constexpr const char* module = "/data/adb/modules/vmk";
inline constexpr const char* module_vmkd = "/data/adb/modules/vmk/bin/vmkd";
inline constexpr const char* module_calmd = "/data/adb/modules/vmk/bin/calmd";

// Where Android groups each app's processes (uid_N/pid_M below each), and
// the group a dead app's processes are killed by.
inline constexpr const char* app_hierarchies[] = {"/sys/fs/cgroup", "/acct", "/dev/memcg/apps"};

// True only on the virtual phone: its kernel was booted with the marker that
// tools/phone_vm/phone-vm.sh alone passes. Anywhere else the daemons must not run
// unsandboxed, so the tests refuse to start.
bool on_throwaway_phone();

// Mounts and fills in what a phone has, once, before the tests: the cpuset
// groups with a Snapdragon 845's boot lists, the cgroups apps are grouped in,
// the module in /data/adb/modules, and the fakes (module
// parameters of the custom kernel, cpufreq policy0 and policy4, the GPU busy
// file, schedtune, the Velmora text in /proc/version, /data/media/0 and the
// Android tools). False, with a message on standard error, when it failed.
bool become_phone();

// Facts for the report: "FACT key=value" lines on standard output.
void fact(const std::string& key, const std::string& value);

}  // namespace phone
