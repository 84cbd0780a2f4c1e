// Mounted file systems: which mount holds a folder, what kind of drive it is
// on, and how much of it is used.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tamber {

struct MountEntry {
  std::string mountPoint;  // unescaped
  std::string fsType;
  std::string source;      // "/dev/sdb1", "server:/export", "tmpfs", ...
  std::string root;        // the folder of the file system mounted there ("/" for all of it)
  unsigned major = 0, minor = 0;  // the file system's device numbers
};

// The entries of a /proc/self/mountinfo text, in its order; malformed lines
// are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);
std::vector<MountEntry> currentMounts();

// The mount holding `path` (made absolute and resolved): the last mounted of
// those with the longest mount point that is a prefix of it.
std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& mounts,
                                       const std::string& resolvedPath);

// What kind of drive a mount is on, as the catalogue counts folders:
// 13 fixed, 14 removable optical drive, 15 RAM disk, 16 network,
// 17 CD-ROM (iso9660/udf on an optical drive), 18 other removable.
// `sysBlock` is the /sys/class/block folder (a parameter for tests).
int driveKindOf(const MountEntry& mount, const std::string& sysBlock = "/sys/class/block");

// File systems that describe the running system rather than stored files
// (proc, sysfs, cgroup, ...); a walk never enters them.
bool isPseudoFileSystem(std::string_view fsType);
// The device numbers of the mounted pseudo file systems.
std::set<dev_t> pseudoFileSystemDevices(const std::vector<MountEntry>& mounts);

// Bytes in use on the file system holding `path` (total minus free).
std::optional<uint64_t> usedBytes(const std::string& path);

}  // namespace tamber
