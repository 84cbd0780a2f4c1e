#include "platform/mounts.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace tamber {

namespace {

// Mount points escape space, tab, line feed and backslash as \ooo.
std::string unescapeOctal(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() &&
        std::all_of(s.begin() + static_cast<long>(i) + 1, s.begin() + static_cast<long>(i) + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

bool isNetworkFileSystem(std::string_view t) {
  static const char* const kinds[] = {"nfs",  "nfs4",  "cifs",   "smb3",     "smbfs", "ncpfs",
                                      "9p",   "ceph",  "afs",    "glusterfs", "lustre",
                                      "davfs", "fuse.sshfs", "fuse.rclone", "fuse.davfs2",
                                      "fuse.glusterfs", "fuse.s3fs", "coda", "gfs2", "ocfs2"};
  for (const char* k : kinds) {
    if (t == k) return true;
  }
  return false;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  for (std::string_view line : splitNonEmpty(text, '\n')) {
    auto fields = splitNonEmpty(line, ' ');
    auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
        fields.end() - dash < 3) {
      continue;
    }
    MountEntry m;
    m.mountPoint = unescapeOctal(fields[4]);
    m.fsType = std::string(dash[1]);
    m.source = unescapeOctal(dash[2]);
    m.root = unescapeOctal(fields[3]);
    std::string numbers(fields[2]);
    if (std::sscanf(numbers.c_str(), "%u:%u", &m.major, &m.minor) != 2) m.major = m.minor = 0;
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<MountEntry> currentMounts() {
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream ss;
  ss << in.rdbuf();
  return parseMountInfo(ss.str());
}

std::optional<MountEntry> mountHolding(const std::vector<MountEntry>& mounts,
                                       const std::string& path) {
  const MountEntry* best = nullptr;
  for (const auto& m : mounts) {
    const std::string& mp = m.mountPoint;
    bool prefix = mp == "/" ||
                  (path.compare(0, mp.size(), mp) == 0 && (path.size() == mp.size() || path[mp.size()] == '/'));
    if (prefix && (!best || mp.size() >= best->mountPoint.size())) best = &m;
  }
  if (!best) return std::nullopt;
  return *best;
}

int driveKindOf(const MountEntry& mount, const std::string& sysBlock) {
  const std::string& t = mount.fsType;
  if (t == "tmpfs" || t == "ramfs") return 15;
  if (isNetworkFileSystem(t)) return 16;
  if (mount.source.rfind("/dev/", 0) != 0) return 13;
  std::string dev = mount.source.substr(5);
  // /dev/mapper/x and other links: the kernel's name of the block device.
  char resolved[4096];
  if (realpath(mount.source.c_str(), resolved)) {
    std::string r = resolved;
    if (r.rfind("/dev/", 0) == 0) dev = r.substr(5);
  }
  bool optical = dev.rfind("sr", 0) == 0;
  if (optical) return t == "iso9660" || t == "udf" ? 17 : 14;
  // A partition's removable flag is its disk's: /sys/class/block/sdb1/../removable.
  std::string removable = readSmallFile(sysBlock + "/" + dev + "/removable");
  if (removable.empty()) removable = readSmallFile(sysBlock + "/" + dev + "/../removable");
  return removable == "1" ? 18 : 13;
}

bool isPseudoFileSystem(std::string_view t) {
  static const char* const kinds[] = {"proc",       "sysfs",     "devtmpfs",   "devpts",
                                      "cgroup",     "cgroup2",   "debugfs",    "tracefs",
                                      "securityfs", "pstore",    "bpf",        "configfs",
                                      "fusectl",    "mqueue",    "hugetlbfs",  "autofs",
                                      "binfmt_misc", "efivarfs", "selinuxfs",  "nsfs",
                                      "rpc_pipefs", "fuse.gvfsd-fuse", "fuse.portal"};
  for (const char* k : kinds) {
    if (t == k) return true;
  }
  return false;
}

std::set<dev_t> pseudoFileSystemDevices(const std::vector<MountEntry>& mounts) {
  std::set<dev_t> out;
  for (const auto& m : mounts) {
    struct stat st;
    if (isPseudoFileSystem(m.fsType) && ::stat(m.mountPoint.c_str(), &st) == 0) out.insert(st.st_dev);
  }
  return out;
}

std::optional<uint64_t> usedBytes(const std::string& path) {
  struct statvfs v;
  if (::statvfs(path.c_str(), &v) != 0) return std::nullopt;
  return static_cast<uint64_t>(v.f_blocks - v.f_bfree) * v.f_frsize;
}

}  // namespace tamber
