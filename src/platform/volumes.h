#pragma once
// Removable drives: where a file that is missing may only be waiting for its
// disk to be inserted.
//
// A removable drive is a mounted file system whose block device is removable
// (/sys/block/<disk>/removable is 1) or that is mounted under /media or
// /run/media, where the desktop mounts inserted disks. The environment
// variable CARRYVALE_REMOVABLE_ROOTS, when set, replaces that list: folders
// separated by ':' (set but empty: no removable drives at all).

#include <string>
#include <vector>

namespace plat {

// The mount points (or, with CARRYVALE_REMOVABLE_ROOTS, the folders) of the
// removable drives, without trailing '/', in the order found.
std::vector<std::string> removableRoots();

// True when the path lies on a removable drive: inside one of
// removableRoots(), or, without CARRYVALE_REMOVABLE_ROOTS, anywhere under
// /media or /run/media even when nothing is mounted there now (a disk that
// is not inserted). The path need not exist; a relative path is taken from
// the current folder, and symbolic links in the part that exists are followed.
bool isOnRemovableDrive(const std::string& path);

}  // namespace plat
