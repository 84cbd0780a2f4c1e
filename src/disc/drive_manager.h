// The optical drives of the machine and what the disc in each holds: the
// kind of disc, its table of contents and track lengths, capacity, media
// catalog number, ISRCs, CD-TEXT and volume label. Drives are the /dev/sr
// devices (from /sys/class/block) or simulated drives; they are addressed by
// index or by device path.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disc/toc.h"
#include "disc/transport.h"
#include "platform/result.h"

namespace tamber::disc {

// The kinds of disc (a disc item's ItemKind).
enum DiscType : int {
  kDiscUnknown = 0,
  kDiscAudio = 1,
  kDiscData = 2,
  kDiscEnhanced = 3,  // audio tracks, then a data session
  kDiscCdi = 4,
  kDiscMixed = 5,  // CD-ROM XA, or a data track before audio tracks
  kDiscDvdFirst = 8,  // DVD of physical-format book type 0 (8) to 4 (12)
};

inline constexpr const char* kNoDriveText = "There is no cd/dvd device installed.";
// What "AUDIO CD" is called when the disc has no file system.
inline constexpr const char* kAudioCdLabel = "AUDIO CD";
// The gap between the sessions of an enhanced CD, in frames (150 s).
inline constexpr uint32_t kSessionGap = 11250;

struct DriveRecord {
  std::string device;     // "/dev/sr0", "sim:FILE"
  std::string driveName;  // from INQUIRY
  uint64_t capacityBytes = 0;
  bool discPresent = false;
  bool trayOpen = false;
  bool eventStatusSupported = false;
  bool isDvd = false;
  int trackCount = 0;
  int lastAudioTrack = 0;
  int discType = kDiscUnknown;
  // For a CD the differences of minute, second and frame between two
  // addresses (each may be negative); for a DVD the first and last sector.
  int spanMinutes = 0, spanSeconds = 0, spanFrames = 0;
  std::array<uint32_t, 100> trackFrames{};  // track n's length at n-1
  std::vector<std::string> isrcList;
  std::string catalogNumber;
  std::string label;  // the volume label, or "AUDIO CD"
  Toc toc;            // as last read
};

class CdDriveManager {
 public:
  CdDriveManager();
  ~CdDriveManager();
  CdDriveManager(const CdDriveManager&) = delete;
  CdDriveManager& operator=(const CdDriveManager&) = delete;

  // Lists the optical drives below `sysBlock` (their devices in `devFolder`)
  // that pass the drive filter; a drive that cannot be opened is named in
  // problems() and left out.
  void enumerate(const std::string& sysBlock = "/sys/class/block", const std::string& devFolder = "/dev");
  // Adds a drive named on the command line: "sim:FILE" or a device path.
  // No filter applies. Returns its index.
  Result<int> addDrive(const std::string& name);
  int addTransport(std::unique_ptr<Transport> transport);
  // The drive a command names: empty for the first drive of the machine, a
  // number for the drive of that index, else a device path or "sim:FILE".
  // Without any drive: "There is no cd/dvd device installed.".
  Result<int> select(const std::string& name);

  int driveCount() const { return static_cast<int>(drives_.size()); }
  const DriveRecord* record(int index) const;
  int indexOfDevice(const std::string& device) const;
  const std::vector<std::string>& problems() const { return problems_; }
  // Where the disc in a drive is mounted (empty when it is not).
  std::string mountPoint(int index) const;

  // Reads the disc in a drive and fills its record; an error says why no
  // disc could be read (the record then says no disc).
  Status readDisc(int index);
  // The CDDB1 identity of the disc from a fresh table of contents.
  bool computeDiscIdentity(int index, DiscIdentity& identity);
  // The CD-TEXT packs of the disc; empty when it has none.
  Result<std::string> readCdText(int index);
  void refreshTrayStates();
  Status toggleTray(int index);
  Status lockMedium(int index, bool allowRemoval);

  // The drive filter on an inquiry name: false for names of virtual drives;
  // true for known makers; otherwise the capabilities page decides.
  enum class Filter { reject, accept, ask };
  static Filter filterByName(const std::string& inquiryName);
  // The inquiry name from the vendor, product and revision fields.
  static std::string inquiryName(const uint8_t* inquiry, size_t size);

 private:
  struct Drive;
  Drive* drive(int index) const;
  Status command(Drive& d, std::vector<uint8_t> cdb, std::string* answer, size_t length);
  Status readToc(Drive& d);
  bool capabilitiesAnswer(Drive& d);
  std::string subChannelText(Drive& d, int format, int track, int tries);

  std::vector<std::unique_ptr<Drive>> drives_;
  std::vector<std::string> problems_;
};

}  // namespace tamber::disc
