#include "disc/drive_manager.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "disc/sim_drive.h"
#include "platform/text.h"

namespace tamber::disc {

struct CdDriveManager::Drive {
  std::unique_ptr<Transport> transport;
  DriveRecord record;
};

namespace {

std::vector<uint8_t> cdb6(uint8_t op) { return {op, 0, 0, 0, 0, 0}; }
std::vector<uint8_t> cdb10(uint8_t op) {
  std::vector<uint8_t> c(10, 0);
  c[0] = op;
  return c;
}
std::vector<uint8_t> cdb12(uint8_t op) {
  std::vector<uint8_t> c(12, 0);
  c[0] = op;
  return c;
}
void putLength(std::vector<uint8_t>& c, size_t at, size_t length) {
  c[at] = static_cast<uint8_t>(length >> 8);
  c[at + 1] = static_cast<uint8_t>(length);
}
uint8_t byteAt(const std::string& s, size_t i) { return i < s.size() ? static_cast<uint8_t>(s[i]) : 0; }

std::string trimmed(std::string s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Text bytes up to the first zero, as 8-bit (ISO 8859-1) text in UTF-8.
std::string latin1Text(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes.substr(0, bytes.find('\0'))) appendUtf8(out, b);
  return out;
}

}  // namespace

CdDriveManager::CdDriveManager() = default;
CdDriveManager::~CdDriveManager() = default;

CdDriveManager::Drive* CdDriveManager::drive(int index) const {
  return index >= 0 && index < driveCount() ? drives_[static_cast<size_t>(index)].get() : nullptr;
}

const DriveRecord* CdDriveManager::record(int index) const {
  Drive* d = drive(index);
  return d ? &d->record : nullptr;
}

int CdDriveManager::indexOfDevice(const std::string& device) const {
  for (int i = 0; i < driveCount(); ++i) {
    if (drives_[static_cast<size_t>(i)]->record.device == device) return i;
  }
  return -1;
}

std::string CdDriveManager::mountPoint(int index) const {
  Drive* d = drive(index);
  return d ? d->transport->mountPoint() : std::string();
}

Status CdDriveManager::command(Drive& d, std::vector<uint8_t> cdb, std::string* answer, size_t length) {
  std::string buffer(length, '\0');
  size_t received = 0;
  Status st = d.transport->execute(cdb, reinterpret_cast<uint8_t*>(buffer.data()), length, true, received);
  if (!st) return st;
  if (answer) *answer = buffer.substr(0, received);
  return {};
}

std::string CdDriveManager::inquiryName(const uint8_t* inquiry, size_t size) {
  auto field = [&](size_t at, size_t n) {
    std::string s;
    for (size_t i = at; i < at + n && i < size; ++i) s += static_cast<char>(inquiry[i] ? inquiry[i] : ' ');
    return s;
  };
  std::string revision = trimmed(field(32, 4));
  std::string text = field(8, 8) + " " + field(16, 16) + " " + (revision.empty() ? "" : "V" + revision);
  std::string out;
  for (char c : trimmed(text)) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

CdDriveManager::Filter CdDriveManager::filterByName(const std::string& inquiryName) {
  std::string name = upper(inquiryName);
  for (const char* virtualDrive : {"DISCINDISK", "GENERIC STEALTH", "FS_CDAWDM_2000CD", "HH DVD-ROM", "AXV CD",
                                   "ZTEKWARE", "CD-VIP CD-ROM", "FANTOM", "SPACE DVD", "VAPOR"}) {
    if (name.find(virtualDrive) != std::string::npos) return Filter::reject;
  }
  for (const char* maker : {"LG ", "SAMSUNG ", "HP ", "PLEXTOR "}) {
    if (name.find(maker) != std::string::npos) return Filter::accept;
  }
  return Filter::ask;
}

bool CdDriveManager::capabilitiesAnswer(Drive& d) {
  std::string answer;
  auto six = cdb6(0x1A);
  six[1] = 0x08;
  six[2] = 0x2A;
  six[4] = 0x1C;
  size_t header = 4;
  if (!command(d, six, &answer, 192)) {
    auto ten = cdb10(0x5A);
    ten[1] = 0x08;
    ten[2] = 0x2A;
    putLength(ten, 7, 0x20);
    if (!command(d, ten, &answer, 192)) return false;
    header = 8 + (static_cast<size_t>(byteAt(answer, 6)) << 8 | byteAt(answer, 7));
  } else {
    header += byteAt(answer, 3);
  }
  return (byteAt(answer, header + 7) & 0x03) != 0;
}

int CdDriveManager::addTransport(std::unique_ptr<Transport> transport) {
  auto d = std::make_unique<Drive>();
  d->record.device = transport->device();
  d->transport = std::move(transport);
  std::string answer;
  auto inquiry = cdb6(0x12);
  inquiry[4] = 0x60;
  if (command(*d, inquiry, &answer, 96)) {
    d->record.driveName = inquiryName(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  }
  auto event = cdb10(0x4A);
  event[1] = 0x01;
  event[4] = 0x10;
  putLength(event, 7, 0x0A);
  d->record.eventStatusSupported = command(*d, event, &answer, 256).isOk();
  if (d->record.eventStatusSupported) d->record.trayOpen = byteAt(answer, 5) & 0x01;
  drives_.push_back(std::move(d));
  return driveCount() - 1;
}

void CdDriveManager::enumerate(const std::string& sysBlock, const std::string& devFolder) {
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(sysBlock, ec)) {
    std::string name = e.path().filename().string();
    if (name.rfind("sr", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const auto& name : names) {
    std::string device = devFolder + "/" + name;
    if (indexOfDevice(device) >= 0) continue;
    auto t = openSgTransport(device);
    if (!t) {
      problems_.push_back(t.message());
      continue;
    }
    int index = addTransport(std::move(*t));
    Drive& d = *drives_[static_cast<size_t>(index)];
    Filter f = filterByName(d.record.driveName);
    if (f == Filter::reject || (f == Filter::ask && !capabilitiesAnswer(d))) drives_.pop_back();
  }
}

Result<int> CdDriveManager::addDrive(const std::string& name) {
  if (int known = indexOfDevice(name); known >= 0) return known;
  if (name.rfind("sim:", 0) == 0) {
    auto t = openSimulatedDrive(name.substr(4));
    if (!t) return t.error();
    return addTransport(std::move(*t));
  }
  auto t = openSgTransport(name);
  if (!t) return t.error();
  return addTransport(std::move(*t));
}

Result<int> CdDriveManager::select(const std::string& name) {
  bool number = !name.empty() && name.size() < 4 &&
                std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!name.empty() && !number) return addDrive(name);
  if (drives_.empty()) enumerate();
  if (drives_.empty()) {
    std::string why = kNoDriveText;
    for (const auto& p : problems_) why += "\n" + p;
    return Error{Errc::not_found, why};
  }
  int index = number ? std::stoi(name) : 0;
  if (index >= driveCount()) {
    return Error{Errc::not_found, "no drive " + name + ": the machine has " + std::to_string(driveCount())};
  }
  return index;
}

Status CdDriveManager::readToc(Drive& d) {
  DriveRecord& r = d.record;
  r.discType = kDiscUnknown;
  r.capacityBytes = 0;
  r.trackCount = 0;
  r.lastAudioTrack = 0;
  r.trackFrames.fill(0);
  r.toc = Toc{};
  std::string answer;
  auto info = cdb10(0x51);
  putLength(info, 7, 34);
  if (command(d, info, &answer, 34)) {
    if (byteAt(answer, 8) == 0x10) r.discType = kDiscCdi;
    if (byteAt(answer, 8) == 0x20) r.discType = kDiscMixed;
  }
  auto toc = cdb10(0x43);
  toc[1] = 0x02;
  putLength(toc, 7, kTocBufferSize);
  if (Status st = command(d, toc, &answer, kTocBufferSize); !st) return st;
  auto decoded = decodeToc(answer);
  if (!decoded) return decoded.error();
  r.toc = *decoded;
  r.trackCount = r.toc.trackCount();
  auto address = [&](int i) {
    return i < r.trackCount ? r.toc.tracks[static_cast<size_t>(i)].frames() : r.toc.leadout.frames();
  };
  bool firstIsAudio = false, lastIsData = false, audioSeen = false, dataSeen = false, audioAfterData = false;
  for (int i = 0; i < r.trackCount; ++i) {
    if (r.toc.tracks[static_cast<size_t>(i)].audio()) {
      if (i == 0) firstIsAudio = true;
      r.lastAudioTrack = i + 1;
      audioSeen = true;
      if (dataSeen) audioAfterData = true;
    } else {
      if (i == r.trackCount - 1) lastIsData = true;
      dataSeen = true;
    }
    if (i > 0) r.trackFrames[static_cast<size_t>(i - 1)] = address(i) - address(i - 1);
  }
  // The last audio track runs to the next entry (or the lead-out). A disc
  // without audio has no such track.
  if (r.lastAudioTrack > 0) {
    r.trackFrames[static_cast<size_t>(r.lastAudioTrack - 1)] = address(r.lastAudioTrack) - address(r.lastAudioTrack - 1);
  }
  if (r.discType != kDiscCdi) {
    if (audioSeen && !dataSeen) {
      r.discType = kDiscAudio;
    } else if (!audioSeen && dataSeen && r.discType != kDiscMixed) {
      r.discType = kDiscData;
    } else if (firstIsAudio && lastIsData && !audioAfterData) {
      r.discType = kDiscEnhanced;
    } else if (audioAfterData) {
      r.discType = kDiscMixed;
    }
  }
  if (r.discType == kDiscEnhanced) {
    // The 150-second gap between the sessions is not part of the last
    // audio track; the data track has no length.
    uint32_t& last = r.trackFrames[static_cast<size_t>(r.lastAudioTrack - 1)];
    last = last > kSessionGap ? last - kSessionGap : 0;
    for (size_t i = static_cast<size_t>(r.lastAudioTrack); i < r.trackFrames.size(); ++i) r.trackFrames[i] = 0;
  }
  const TocEntry& first = r.toc.tracks.front();
  auto span = [&](const TocEntry& to) {
    r.spanMinutes = to.minute - first.minute;
    r.spanSeconds = to.second - first.second;
    r.spanFrames = to.frame - first.frame;
  };
  span(r.toc.leadout);
  int64_t frames = static_cast<int64_t>(r.spanMinutes) * 4500 + r.spanSeconds * 75 + r.spanFrames;
  r.capacityBytes = frames > 0 ? static_cast<uint64_t>(frames) * 2048 : 0;
  if (r.discType == kDiscEnhanced) span(r.toc.tracks.back());
  r.isDvd = false;

  r.catalogNumber.clear();
  r.isrcList.clear();
  if (r.discType == kDiscAudio || r.discType == kDiscEnhanced) {
    r.catalogNumber = subChannelText(d, 2, 0, 2);
    for (int t = 1; t <= r.trackCount; ++t) {
      r.isrcList.push_back(subChannelText(d, 3, r.toc.firstTrack + t - 1, 1));
      // Discs without ISRCs are not asked track by track.
      if (t == 3 && std::all_of(r.isrcList.begin(), r.isrcList.end(), [](auto& s) { return s.empty(); })) {
        r.isrcList.clear();
        break;
      }
    }
  }
  return {};
}

std::string CdDriveManager::subChannelText(Drive& d, int format, int track, int tries) {
  auto sub = cdb10(0x42);
  sub[2] = 0x40;
  sub[3] = static_cast<uint8_t>(format);
  sub[6] = static_cast<uint8_t>(track);
  putLength(sub, 7, 24);
  std::string answer;
  for (int i = 0; i < tries; ++i) {
    if (!command(d, sub, &answer, 24)) continue;
    // An answer shorter than the text it should hold is not read.
    if (answer.size() < 23 || !(byteAt(answer, 8) & 0x80)) return {};
    return latin1Text(answer.substr(9, 14));
  }
  return {};
}

Status CdDriveManager::readDisc(int index) {
  Drive* d = drive(index);
  if (!d) return Error{Errc::not_found, "no drive " + std::to_string(index)};
  DriveRecord& r = d->record;
  r.capacityBytes = 0;
  r.trackCount = 0;
  r.discPresent = false;
  r.label.clear();
  if (Status st = command(*d, cdb6(0x00), nullptr, 0); !st) {
    r.discType = kDiscUnknown;
    r.lastAudioTrack = 0;
    return st;
  }
  // A DVD answers its physical format; a CD its table of contents.
  r.discType = kDiscUnknown;
  r.trackCount = 1;
  std::string answer;
  auto structure = cdb12(0xAD);
  putLength(structure, 8, 0x0800);
  if (command(*d, structure, &answer, 2048) && answer.size() >= 16) {
    int book = byteAt(answer, 4) >> 4;
    r.discType = book <= 4 ? kDiscDvdFirst + book : kDiscUnknown;
    r.isDvd = true;
    r.lastAudioTrack = 0;
    r.trackFrames.fill(0);
    r.isrcList.clear();
    r.catalogNumber.clear();
    r.toc = Toc{};
    auto be32 = [&](size_t at) {
      return static_cast<uint32_t>(byteAt(answer, at)) << 24 | static_cast<uint32_t>(byteAt(answer, at + 1)) << 16 |
             static_cast<uint32_t>(byteAt(answer, at + 2)) << 8 | byteAt(answer, at + 3);
    };
    uint32_t start = be32(8), end = be32(12);
    r.spanMinutes = static_cast<int>(start);
    r.spanSeconds = static_cast<int>(end);
    r.spanFrames = 0;
    if (end != 0 && end >= start) r.capacityBytes = (static_cast<uint64_t>(end) - start + 1) * 2048;
  } else if (Status st = readToc(*d); !st) {
    r.trackCount = 0;
    return st;
  }
  // The volume label from the file system's descriptor, 16 sectors into
  // the last data track (a CD-Extra's is in its second session, after the
  // audio); a DVD's sector 16 is read as a DVD's sectors are, with READ (10).
  uint32_t descriptor = 16;
  if (!r.isDvd) {
    for (const auto& t : r.toc.tracks) {
      if (!t.audio() && t.frames() >= 150) descriptor = t.frames() - 150 + 16;
    }
  }
  std::vector<uint8_t> read;
  if (r.isDvd) {
    read = cdb10(0x28);
    read[8] = 1;
  } else {
    read = cdb12(0xBE);
    read[8] = 1;
    read[9] = 0x10;
  }
  for (int i = 0; i < 4; ++i) read[2 + static_cast<size_t>(i)] = static_cast<uint8_t>(descriptor >> (24 - 8 * i));
  if (command(*d, read, &answer, 2352)) {
    r.discPresent = true;
    if (answer.size() >= 72 && answer.compare(1, 5, "CD001") == 0) {
      r.label = trimmed(latin1Text(answer.substr(40, 32)));
    } else if (r.discType == kDiscAudio) {
      r.label = kAudioCdLabel;
    }
    (void)command(*d, cdb6(0x01), nullptr, 0);
  } else if (std::string mount = d->transport->mountPoint(); !mount.empty()) {
    // A drive that does not read sectors this way: the mounted file system.
    r.discPresent = true;
    r.label = std::filesystem::path(mount).filename().string();
  }
  if (!r.discPresent) return Error{Errc::io, r.device + ": the disc cannot be read"};
  return {};
}

bool CdDriveManager::computeDiscIdentity(int index, DiscIdentity& identity) {
  Drive* d = drive(index);
  if (!d) return false;
  std::string answer;
  auto toc = cdb10(0x43);
  toc[1] = 0x02;
  putLength(toc, 7, kTocBufferSize);
  if (!command(*d, toc, &answer, kTocBufferSize)) return false;
  auto decoded = decodeToc(answer);
  if (!decoded) return false;
  return disc::computeDiscIdentity(*decoded, identity);
}

Result<std::string> CdDriveManager::readCdText(int index) {
  Drive* d = drive(index);
  if (!d) return Error{Errc::not_found, "no drive " + std::to_string(index)};
  (void)command(*d, cdb6(0x01), nullptr, 0);
  auto toc = cdb10(0x43);
  toc[1] = 0x02;
  toc[2] = 5;
  putLength(toc, 7, 4);
  std::string answer;
  if (!command(*d, toc, &answer, 4) || answer.size() < 4) return std::string();
  size_t total = (static_cast<size_t>(byteAt(answer, 0)) << 8 | byteAt(answer, 1)) + 2;
  if (total < 5) return std::string();
  putLength(toc, 7, total);
  if (Status st = command(*d, toc, &answer, total); !st) return st.error();
  // An answer shorter than its own length field is not read past.
  if (answer.size() < total) return Error{Errc::corrupt, d->record.device + ": the CD-TEXT answer is cut short"};
  size_t packs = (total - 4) / 18;
  return answer.substr(4, packs * 18);
}

void CdDriveManager::refreshTrayStates() {
  for (auto& d : drives_) {
    if (!d->record.eventStatusSupported) continue;
    auto event = cdb10(0x4A);
    event[1] = 0x01;
    event[4] = 0x10;
    putLength(event, 7, 0x0A);
    std::string answer;
    if (command(*d, event, &answer, 256) && answer.size() > 5) d->record.trayOpen = byteAt(answer, 5) & 0x01;
  }
}

Status CdDriveManager::toggleTray(int index) {
  Drive* d = drive(index);
  if (!d) return Error{Errc::not_found, "no drive " + std::to_string(index)};
  auto start = cdb6(0x1B);
  start[1] = 0x01;
  start[4] = d->record.trayOpen ? 0x03 : 0x02;
  if (Status st = command(*d, start, nullptr, 0); !st) return st;
  d->record.trayOpen = !d->record.trayOpen;
  return {};
}

Status CdDriveManager::lockMedium(int index, bool allowRemoval) {
  Drive* d = drive(index);
  if (!d) return Error{Errc::not_found, "no drive " + std::to_string(index)};
  auto prevent = cdb6(0x1E);
  prevent[4] = allowRemoval ? 0x00 : 0x03;
  return command(*d, prevent, nullptr, 0);
}

}  // namespace tamber::disc
