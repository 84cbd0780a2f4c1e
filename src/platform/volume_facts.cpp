#include "platform/volume_facts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/mounts.h"
#include "platform/text.h"

namespace tamber {

namespace {

uint32_t le32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::string hexBytes(std::string_view b, size_t at, size_t n, bool upper = false) {
  static const char* lower = "0123456789abcdef";
  static const char* higher = "0123456789ABCDEF";
  const char* d = upper ? higher : lower;
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(b[at + i]);
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// 16 bytes as 8-4-4-4-12; nothing when all are zero.
std::string uuidText(std::string_view b, size_t at) {
  std::string h = hexBytes(b, at, 16);
  if (h.find_first_not_of('0') == std::string::npos) return {};
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

// A fixed-size text field: up to the first NUL, trailing blanks cut, bytes
// that are not printable ASCII or UTF-8 left as they are for the caller's
// text rule.
std::string fixedText(std::string_view b, size_t at, size_t n) {
  std::string_view s = b.substr(at, n);
  s = s.substr(0, s.find('\0'));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return std::string(s);
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// "\x20" and the like, as udev and /dev/disk write names.
std::string unescapeHex(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The entry of /dev/disk/by-KIND that leads to `device`.
std::string diskEntryFor(const std::string& kind, const std::string& device) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/dev/disk/" + kind, ec)) {
    std::error_code ec2;
    if (std::filesystem::canonical(e.path(), ec2) == device && !ec2) return unescapeHex(e.path().filename().string());
  }
  return {};
}

}  // namespace

std::optional<FileSystemIdentity> identifyFileSystem(std::string_view b) {
  FileSystemIdentity id;
  // ext2, ext3, ext4: the superblock at 1024, its magic at 56.
  if (b.size() >= 1024 + 136 && static_cast<unsigned char>(b[1024 + 56]) == 0x53 &&
      static_cast<unsigned char>(b[1024 + 57]) == 0xEF) {
    uint32_t compat = le32(b, 1024 + 92), incompat = le32(b, 1024 + 96);
    id.type = (incompat & 0x2C0) ? "ext4" : (compat & 0x4) ? "ext3" : "ext2";
    id.uuid = uuidText(b, 1024 + 104);
    id.label = fixedText(b, 1024 + 120, 16);
    return id;
  }
  if (b.size() >= 120 && b.substr(0, 4) == "XFSB") {
    id.type = "xfs";
    id.uuid = uuidText(b, 32);
    id.label = fixedText(b, 108, 12);
    return id;
  }
  if (b.size() >= 65536 + 555 && b.substr(65536 + 64, 8) == "_BHRfS_M") {
    id.type = "btrfs";
    id.uuid = uuidText(b, 65536 + 32);
    id.label = fixedText(b, 65536 + 299, 256);
    return id;
  }
  if (b.size() >= 512 && b.substr(3, 8) == "NTFS    ") {
    id.type = "ntfs";
    std::string serial;
    for (int i = 7; i >= 0; --i) serial += hexBytes(b, 0x48 + static_cast<size_t>(i), 1, true);
    id.uuid = serial;
    return id;
  }
  if (b.size() >= 512 && b.substr(3, 8) == "EXFAT   ") {
    id.type = "exfat";
    uint32_t serial = le32(b, 100);
    char text[16];
    std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFF);
    id.uuid = text;
    return id;
  }
  if (b.size() >= 512 && static_cast<unsigned char>(b[510]) == 0x55 && static_cast<unsigned char>(b[511]) == 0xAA) {
    // FAT32 keeps its serial and label further on than FAT12 and FAT16.
    size_t serialAt = 0;
    if (b.substr(0x52, 5) == "FAT32") serialAt = 0x43;
    else if (b.substr(0x36, 3) == "FAT") serialAt = 0x27;
    if (serialAt) {
      id.type = "vfat";
      uint32_t serial = le32(b, serialAt);
      char text[16];
      std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFF);
      id.uuid = text;
      id.label = fixedText(b, serialAt + 4, 11);
      if (id.label == "NO NAME") id.label.clear();
      return id;
    }
  }
  // ISO 9660: the primary volume descriptor at 32 KiB; its UUID, as blkid
  // makes it, is the creation time.
  constexpr size_t pvd = 32768;
  if (b.size() >= pvd + 830 && b[pvd] == 1 && b.substr(pvd + 1, 5) == "CD001") {
    id.type = "iso9660";
    id.label = fixedText(b, pvd + 40, 32);
    std::string_view t = b.substr(pvd + 813, 16);
    bool digits = t.find_first_not_of("0123456789") == std::string_view::npos && t != std::string(16, '0');
    if (digits) {
      id.uuid = std::string(t.substr(0, 4)) + "-" + std::string(t.substr(4, 2)) + "-" + std::string(t.substr(6, 2)) +
                "-" + std::string(t.substr(8, 2)) + "-" + std::string(t.substr(10, 2)) + "-" +
                std::string(t.substr(12, 2)) + "-" + std::string(t.substr(14, 2));
    }
    return id;
  }
  return std::nullopt;
}

VolumeFacts volumeFactsOf(const std::string& path) { return volumeFactsOf(path, currentMounts()); }

VolumeFacts volumeFactsOf(const std::string& path, const std::vector<MountEntry>& mounts) {
  VolumeFacts f;
  std::error_code ec;
  std::string resolved = std::filesystem::canonical(path, ec).string();
  if (ec) return f;
  auto mount = mountHolding(mounts, resolved);
  if (!mount) return f;
  f.mountPoint = mount->mountPoint;
  f.fsType = mount->fsType;
  f.device = mount->source;
  if (resolved.size() > f.mountPoint.size()) {
    f.inside = resolved.substr(f.mountPoint.size() + (f.mountPoint == "/" ? 0 : 1));
  }
  struct statvfs vfs {};
  if (::statvfs(resolved.c_str(), &vfs) == 0) {
    f.total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    f.free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    f.used = f.total - std::min<uint64_t>(f.total, static_cast<uint64_t>(vfs.f_bfree) * vfs.f_frsize);
  }
  // The block device: its numbers in the mount table, or, for file systems
  // that show other numbers there (btrfs), the device the mount names.
  unsigned major = mount->major, minor = mount->minor;
  if (major == 0 && mount->source.rfind("/dev/", 0) == 0) {
    struct stat st {};
    if (::stat(mount->source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      major = ::major(st.st_rdev);
      minor = ::minor(st.st_rdev);
    }
  }
  if (major == 0) return f;
  std::string numbers = std::to_string(major) + ":" + std::to_string(minor);
  std::string sys = "/sys/dev/block/" + numbers;
  std::string devName;
  {
    std::ifstream uevent(sys + "/uevent");
    for (std::string line; std::getline(uevent, line);) {
      if (line.rfind("DEVNAME=", 0) == 0) devName = "/dev/" + line.substr(8);
    }
  }
  if (!devName.empty()) f.device = devName;
  // What udev recorded of the device.
  {
    std::ifstream udev("/run/udev/data/b" + numbers);
    std::string label, labelEnc, serial, serialShort;
    for (std::string line; std::getline(udev, line);) {
      auto value = [&](const char* key) -> std::optional<std::string> {
        size_t n = std::strlen(key);
        if (line.compare(0, n, key) == 0) return line.substr(n);
        return std::nullopt;
      };
      if (auto v = value("E:ID_FS_UUID=")) f.uuid = *v;
      if (auto v = value("E:ID_FS_LABEL=")) label = *v;
      if (auto v = value("E:ID_FS_LABEL_ENC=")) labelEnc = unescapeHex(*v);
      if (auto v = value("E:ID_SERIAL_SHORT=")) serialShort = *v;
      if (auto v = value("E:ID_SERIAL=")) serial = *v;
    }
    f.label = !labelEnc.empty() ? labelEnc : label;
    f.serial = !serialShort.empty() ? serialShort : serial;
  }
  if (f.uuid.empty() && !devName.empty()) f.uuid = diskEntryFor("by-uuid", devName);
  if (f.label.empty() && !devName.empty()) f.label = diskEntryFor("by-label", devName);
  if (f.uuid.empty() && !devName.empty()) {
    // The file system's own first bytes, when this user may read the device.
    int fd = ::open(devName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      struct stat st {};
      std::string bytes(kIdentityBytes, '\0');
      ssize_t n = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) ? ::pread(fd, bytes.data(), bytes.size(), 0) : -1;
      ::close(fd);
      if (n > 0) {
        bytes.resize(static_cast<size_t>(n));
        if (auto id = identifyFileSystem(bytes)) {
          f.uuid = id->uuid;
          if (f.label.empty()) f.label = id->label;
        }
      }
    }
  }
  if (f.serial.empty()) {
    // The drive's serial: the device's own, or, for a partition, its disk's.
    std::string real = std::filesystem::canonical(sys, ec).string();
    bool partition = !ec && std::filesystem::exists(real + "/partition", ec);
    for (const std::string& dir : {real, partition ? real + "/.." : real}) {
      if (ec) break;
      for (const char* name : {"/serial", "/device/serial"}) {
        if (f.serial.empty()) f.serial = firstLine(dir + name);
      }
    }
  }
  return f;
}

}  // namespace tamber
