// Device tests: each case body runs as pid 1 of its own sandbox.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sandbox.h"

// The binaries under test: this build's, or others named by VMKD_BINARY and
// CALMD_BINARY (the Arm ones, with VMK_EMULATOR=qemu-aarch64-static).
extern const std::string vmkd_binary;
extern const std::string calmd_binary;
extern const std::string vmktrace_binary;
extern const std::string vmkctl_binary;
// Whether the daemons run under a user-mode emulator, where timing and
// memory figures mean nothing.
bool emulated();

sandbox::options device_options();

// Runs the body in a fresh sandbox; its failures are reported from inside,
// and the case fails when the body failed, timed out or crashed.
void in_sandbox(const sandbox::options& o, const std::function<void()>& body);
inline void in_sandbox(const std::function<void()>& body) { in_sandbox(device_options(), body); }

// Runs calmd with the arguments and waits for it (at most timeout_ms).
sandbox::command_result run_calmd(const std::vector<std::string>& args, int timeout_ms = 30000);

// The text of a kernel file of the fake device.
std::string value_of(const std::string& path);
// Waits until the file holds the text.
bool file_becomes(const std::string& path, const std::string& text, int timeout_ms);
// How many times the text occurs in another.
int count_of(const std::string& text, const std::string& part);

// The main thread and "work" of an app-like stand-in at these values, the
// threads set apart as they began.
void expect_in_step(pid_t pid, int nice, int policy, const std::string& why, int rt_priority = 0);
