// Shared control file of replay stand-ins: one slot per stand-in, mapped by
// the replay and by every stand-in (SB_CONTROL names the file, SB_SLOT the slot).
#pragma once

#include <cstdint>

namespace sandbox {

inline constexpr int standin_slots = 4096;
// The most threads a busy stand-in spins in (SB_THREADS), its main one counted.
inline constexpr int max_spinning_threads = 64;

struct standin_slot {
  int32_t permille;       // share of one core to burn, 0 to 1000
  int32_t spawn_request;  // 1 + the slot of a child to start, 0 when none
  int32_t pid;            // set by the stand-in when it runs
  uint32_t generation;    // bumped (and woken) on every change
};

// "<control>.<slot>" holds what the stand-in of a slot runs as: its name,
// then its arguments, each ended by a NUL byte.
}  // namespace sandbox
