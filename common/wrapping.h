// Arithmetic on the kernel's 32-bit counters (CPU ticks, context switches):
// it wraps, as the counters themselves do, instead of overflowing.
#pragma once

inline int wrapping_sub(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b)); }
inline int wrapping_add(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)); }
