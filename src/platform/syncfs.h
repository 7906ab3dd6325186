#pragma once
// Making written files durable before something that depends on them, such as
// removing the entries of an unload from the briefcase.

#include <string>

namespace plat {

// Writes every file of the file system that holds `path` (a folder) to its
// disk. False (last error set) when the folder cannot be opened or the sync
// fails.
bool syncFileSystemOf(const std::string& path);

}  // namespace plat
