// calmd: per-process CPU throttling daemon and priority tool.
#include "entry.h"

int main(int argc, char** argv) { return run_calmd(argc, argv); }
