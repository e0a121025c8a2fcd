// vmkd: the kernel-tuning daemon of the Velmora Kernel.
#include "startup.h"

int main() { return run_vmkd(); }
