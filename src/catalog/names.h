// The fixed vocabulary of stored documents: 72 short element and attribute
// names addressed by index, item paths and the names of per-item streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamber::catalog {

// Indexes 0-25 "a".."z", 26-34 "a1".."a9", 35-44 "b0".."b9", 45-54 "c0".."c9",
// 55-64 "d0".."d9", 65-71 "e0".."e6".
inline constexpr int kNameCodeCount = 72;
const char* nameCode(int fieldIndex);
// The index of a name, or -1.
int fieldIndexOf(const std::string& name);

// Meanings at the catalog level.
enum Field : int {
  kRootElement = 0,   // "a"
  kCategoryElement = 1,  // "b"
  kCategoryName = 2,  // "c"
  kCreated = 3,       // "d": HexTime
  kItemElement = 4,   // "e"
  kComment = 5,       // "f"
  kNumber = 6,        // "g": attribute
  kLabel = 7,         // "h"
  kLocation = 8,      // "i"
  kYear = 9,          // "j"
  kOriginalName = 10, // "k"
  kDepth = 11,        // "l"
  kCapacity = 12,     // "m": megabytes
  kTracks = 13,       // "n"
  kPlayingTime = 14,  // "o": seconds
  kKind = 15,         // "p": ItemKind
  kArtist = 16,       // "q"
  kAlbum = 17,        // "r"
  kPrice = 18,        // "s"
  kCatalogNumber = 19,  // "t"
  kCoverName = 20,    // "u"
  kGenre = 21,        // "v"
  kFilterText = 22,   // "w"
  kListingParts = 23, // "x"
  kFolders = 24,      // "y"
  kFiles = 25,        // "z"
  kScanSettings = 26, // "a1"
  kScanBits = 27,     // "a2"
  kSubfolderSettings = 28,  // "a3"
  kSubfolderPath = 29,      // "a4"
  kSubfolderBits = 30,      // "a5"
  // Ours, in the scan settings of a disc: its MusicBrainz disc id, so that
  // the disc can be looked up later. Readers that do not know it pass it by.
  kMusicBrainzId = 31,      // "a6"
  // Ours, in the scan settings: when a verify last found every file as
  // recorded (HexTime).
  kLastVerified = 32,       // "a7"
  // Ours, in the scan settings: the volume the scan root was on, as it was
  // then. The folder is the root below the volume's mount point ("/" for
  // the mount point itself); the sizes are bytes.
  kVolumeFileSystem = 33,   // "a8"
  kVolumeUuid = 34,         // "a9"
  kVolumeLabel = 35,        // "b0"
  kVolumeSerial = 36,       // "b1"
  kVolumeTotal = 37,        // "b2"
  kVolumeUsed = 38,         // "b3"
  kVolumeFree = 39,         // "b4"
  kVolumeFolder = 40,       // "b5"
};

// ItemKind (field "p"): 0-7 CD media (1 audio CD, 3 CD-extra), 8-12 DVD
// media, 13-18 folders by the kind of drive they were on.
inline bool isDiscKind(int kind) { return kind < 13; }
inline bool isFolderKind(int kind) { return kind > 12; }
inline constexpr int kKindAudioCd = 1;
inline constexpr int kKindCdExtra = 3;
inline constexpr int kKindFixedFolder = 13;
inline constexpr int kMaxKind = 18;

// The item numbers from a top-level category down.
using ItemPath = std::vector<uint16_t>;

// "1-5" for {1, 5}; "" for the root.
std::string joinPath(const ItemPath& path);

enum class StreamKind { listing, cover, thumbnails, archives, nameIndex };

// The name of an item's stream: "col1-5-3.xml", "img1-5-3", "thu1-5-3",
// "arc1-5-3", "nix1-5-3" (the search's name index); part k of a split listing is "col1-5-3-k". With number 0 the
// "-N" is left out.
std::string streamName(StreamKind kind, const ItemPath& category, uint16_t number, int part = 0);

inline constexpr const char* kCatalogStreamName = "categories";

}  // namespace tamber::catalog
