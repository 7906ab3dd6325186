#pragma once
// The key of a briefcase in the carry record: the file system that holds the
// container, by the name that stays with the disk (its UUID), and the
// container's path inside that file system. So the same briefcase finds its
// record wherever the disk is mounted, and after another program rewrote the
// container (its bytes, times and inode are not part of the key).
//
// A copy or a renamed container has a key of its own. A copy is a second
// briefcase that goes its own way: sharing one record would let a carry with
// one of them count as a carry with the other, and a change would then be
// taken as carried that the other never received. A rename cannot be told
// from a copy, and costs only this: the dates decide until its first carry.

#include <functional>
#include <string>

#include "platform/mountinfo.h"

namespace carry {

// Finds the file system that holds an absolute path; the real one reads the
// system's mount table (plat::mountIdentity), tests put their own.
using MountLookup = std::function<bool(const std::string& path, plat::MountIdentity* out)>;

// The key of the container at `containerPath` (links resolved first).
std::string briefcaseKey(const std::string& containerPath);
std::string briefcaseKey(const std::string& containerPath, const MountLookup& lookup);

}  // namespace carry
