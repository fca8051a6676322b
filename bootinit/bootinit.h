// The boot selector's own operations.
#pragma once

#include <string>

// Mounts the device on the store's mount point and keeps it there when it
// holds the selection file (returns 1); otherwise unmounts it and returns 0.
int TestMount(std::string device);
// 1 when the path can be opened as a directory, 0 otherwise.
int DirectoryExists(const char *path);
// The text with its first line-feed removed.
std::string Str_trim(std::string text);
