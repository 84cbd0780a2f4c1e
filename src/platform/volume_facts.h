// What identifies a mounted volume and how full it is: its file system's
// type, UUID and label, the drive's serial number, and its space. Read from
// statvfs, /proc/self/mountinfo, the udev database, /dev/disk and sysfs,
// and, where none of those knows the UUID, from the file system's own first
// bytes when the device may be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamber {

struct VolumeFacts {
  std::string mountPoint;  // where the volume is mounted
  std::string inside;      // the folder below the mount point ("" for the mount point itself)
  std::string fsType;      // "ext4", "vfat", "iso9660", ...
  std::string device;      // "/dev/sdb1", or the mount's source
  std::string uuid;        // as blkid writes it ("2b0f…-…", "1A2B-3C4D")
  std::string label;
  std::string serial;      // the drive's serial number
  uint64_t total = 0, used = 0, free = 0;  // bytes; free: what a user may still write
  bool known() const { return !fsType.empty(); }
};

// The facts of the volume holding `path`; nothing known when the path
// cannot be reached.
VolumeFacts volumeFactsOf(const std::string& path);
// The same with the mount table already read (currentMounts()).
struct MountEntry;
VolumeFacts volumeFactsOf(const std::string& path, const std::vector<MountEntry>& mounts);

// A file system's identity from its first bytes (up to 68 KiB are looked
// at): ext2/3/4, XFS, Btrfs, FAT, exFAT, NTFS and ISO 9660. Nothing for
// other or damaged bytes.
struct FileSystemIdentity {
  std::string type, uuid, label;
};
std::optional<FileSystemIdentity> identifyFileSystem(std::string_view firstBytes);
inline constexpr size_t kIdentityBytes = 68 * 1024;

}  // namespace tamber
