// Small file helpers shared by the simulator's test side.
#pragma once

#include <string>

// Makes a folder and its missing parents (mode 0755); false when one cannot be made.
bool sim_make_dirs(const std::string &path);
// The whole content of a file; empty when it cannot be read.
std::string sim_slurp(const std::string &path);
