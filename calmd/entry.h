// calmd's entry: the root check, its own scheduling class, and the command table.
#pragma once

int run_calmd(int argc, char** argv);
