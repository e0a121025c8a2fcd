// Start-up of vmkd: the kernel and root checks, then the process layout.
#pragma once

// True when the first 128 bytes of /proc/version name the Velmora Kernel.
bool velmora_kernel();

// The checks, the three forks and the one-shot settings; then the tuning
// loop for ever. Returns only an exit status of a refused start.
int run_vmkd();
