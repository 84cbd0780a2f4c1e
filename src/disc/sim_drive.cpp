#include "disc/sim_drive.h"

#include "platform/atomic_file.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "disc/toc.h"
#include "platform/xml.h"

namespace tamber::disc {

namespace {

Error bad(const std::string& where, const std::string& why) {
  return Error{Errc::invalid_argument, where + ": not a disc description: " + why};
}

struct Track {
  TocEntry entry;
  std::string isrc;
};

struct SimDisc {
  std::string label, mcn, folder;
  int infoType = 0;  // READ DISC INFORMATION byte 8
  std::vector<Track> tracks;
  TocEntry leadout;
  std::string cdText;  // the packs
  bool dvd = false;
  int book = 0;
  uint32_t dvdStart = 0, dvdEnd = 0;
  bool hasData() const {
    if (dvd) return true;
    for (const auto& t : tracks) {
      if (!t.entry.audio()) return true;
    }
    return false;
  }
};

std::string attribute(xmlNode* n, const char* name) {
  xml::String v(xmlGetProp(n, xml::u(name)));
  return v ? xml::c(v.get()) : "";
}

bool parseMsf(const std::string& text, TocEntry& e) {
  int m = 0, s = 0, f = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d%c", &m, &s, &f, &tail) != 3) return false;
  if (m < 0 || m > 255 || s < 0 || s > 59 || f < 0 || f > 74) return false;
  e.minute = m;
  e.second = s;
  e.frame = f;
  return true;
}

Result<std::string> hexBytes(const std::string& text) {
  std::string out;
  int high = -1;
  for (char ch : text) {
    if (std::isspace(static_cast<unsigned char>(ch))) continue;
    int v = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
            : (ch >= 'a' && ch <= 'f')                   ? ch - 'a' + 10
            : (ch >= 'A' && ch <= 'F')                   ? ch - 'A' + 10
                                                         : -1;
    if (v < 0) return Error{Errc::invalid_argument, std::string("\"") + ch + "\" is no hexadecimal digit"};
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return Error{Errc::invalid_argument, "an odd number of hexadecimal digits"};
  return out;
}

// An ISO 9660 primary volume descriptor naming `label`.
std::string volumeDescriptor(const std::string& label) {
  std::string pvd(2048, '\0');
  pvd[0] = 1;
  std::memcpy(&pvd[1], "CD001", 5);
  pvd[6] = 1;
  std::string padded = label.substr(0, 32);
  padded.resize(32, ' ');
  std::memcpy(&pvd[40], padded.data(), 32);
  return pvd;
}

class SimulatedDrive : public Transport {
 public:
  std::string name, vendor, product, revision, baseFolder;
  bool trayOpen = false, locked = false;
  std::optional<SimDisc> disc;

  Status execute(const std::vector<uint8_t>& cdb, uint8_t* data, size_t length, bool dataIn,
                 size_t& received) override {
    received = 0;
    std::string answer;
    auto refuse = [&](const char* why) { return Error{Errc::io, name + ": " + why}; };
    bool ready = disc && !trayOpen;
    auto be16 = [&](size_t at) { return static_cast<size_t>(cdb[at]) << 8 | cdb[at + 1]; };
    auto be32 = [&](size_t at) {
      return static_cast<uint32_t>(cdb.at(at)) << 24 | static_cast<uint32_t>(cdb.at(at + 1)) << 16 |
             static_cast<uint32_t>(cdb.at(at + 2)) << 8 | cdb.at(at + 3);
    };
    switch (cdb.at(0)) {
      case 0x00:  // TEST UNIT READY
      case 0x01:  // REZERO UNIT
        if (!ready) return refuse(trayOpen ? "the tray is open" : "no disc");
        break;
      case 0x12: {  // INQUIRY
        answer.assign(96, '\0');
        answer[0] = 0x05;
        answer[4] = 91;
        auto put = [&](size_t at, const std::string& s, size_t n) {
          std::string p = s.substr(0, n);
          p.resize(n, ' ');
          answer.replace(at, n, p);
        };
        put(8, vendor, 8);
        put(16, product, 16);
        put(32, revision, 4);
        break;
      }
      case 0x1A:    // MODE SENSE(6)
      case 0x5A: {  // MODE SENSE(10)
        if ((cdb[2] & 0x3F) != 0x2A) return refuse("no such mode page");
        size_t header = cdb[0] == 0x1A ? 4 : 8;
        answer.assign(header + 28, '\0');
        answer[header] = 0x2A;
        answer[header + 1] = 26;
        answer[header + 7] = 0x03;  // separate volume levels and channel mute
        break;
      }
      case 0x4A:  // GET EVENT STATUS NOTIFICATION (media class)
        answer.assign(8, '\0');
        answer[1] = 6;
        answer[2] = 0x04;
        answer[5] = static_cast<char>((trayOpen ? 0x01 : 0) | (disc ? 0x02 : 0));
        break;
      case 0x1B:  // START STOP UNIT
        if (cdb[4] & 0x02) {
          bool load = cdb[4] & 0x01;
          if (!load && locked) return refuse("the medium is locked in the drive");
          trayOpen = !load;
        }
        break;
      case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
        locked = (cdb[4] & 0x03) != 0;
        break;
      case 0x43: {  // READ TOC
        if (!ready || disc->dvd) return refuse("no table of contents");
        int format = cdb[2] & 0x0F;
        if (format == 0) {
          Toc toc;
          toc.firstTrack = disc->tracks.front().entry.number;
          toc.lastTrack = disc->tracks.back().entry.number;
          for (const auto& t : disc->tracks) toc.tracks.push_back(t.entry);
          toc.leadout = disc->leadout;
          answer = encodeToc(toc);
        } else if (format == 5) {
          if (disc->cdText.empty()) return refuse("no CD-TEXT");
          size_t n = disc->cdText.size() + 2;
          answer = {static_cast<char>(n >> 8), static_cast<char>(n), 0, 0};
          answer += disc->cdText;
        } else {
          return refuse("no such table of contents format");
        }
        answer.resize(std::min(answer.size(), be16(7)));
        break;
      }
      case 0x42: {  // READ SUB-CHANNEL
        if (!ready || disc->dvd) return refuse("no sub-channel");
        int format = cdb[3];
        answer.assign(24, '\0');
        answer[3] = 20;
        answer[4] = static_cast<char>(format);
        std::string text;
        if (format == 2) {
          text = disc->mcn;
        } else if (format == 3) {
          for (const auto& t : disc->tracks) {
            if (t.entry.number == cdb[6]) text = t.isrc;
          }
        } else {
          return refuse("no such sub-channel format");
        }
        if (!text.empty()) {
          answer[8] = static_cast<char>(0x80);
          answer.replace(9, std::min<size_t>(text.size(), 13), text.substr(0, 13));
        }
        answer.resize(std::min(answer.size(), be16(7)));
        break;
      }
      case 0x51:  // READ DISC INFORMATION
        if (!ready) return refuse("no disc");
        answer.assign(34, '\0');
        answer[1] = 32;
        answer[8] = static_cast<char>(disc->infoType);
        answer.resize(std::min(answer.size(), be16(7)));
        break;
      case 0xAD: {  // READ DISC STRUCTURE
        if (!ready || !disc->dvd) return refuse("not a DVD");
        answer.assign(2048, '\0');
        answer[0] = 0x08;
        answer[1] = 0x02;
        answer[4] = static_cast<char>(disc->book << 4 | 1);
        for (int i = 0; i < 4; ++i) {
          answer[8 + static_cast<size_t>(i)] = static_cast<char>(disc->dvdStart >> (24 - 8 * i));
          answer[12 + static_cast<size_t>(i)] = static_cast<char>(disc->dvdEnd >> (24 - 8 * i));
        }
        break;
      }
      case 0xBE: {  // READ CD: the data session's volume descriptor is 16 sectors into its track
        if (!ready) return refuse("no disc");
        if (disc->dvd) return refuse("READ CD of a DVD");  // as many drives answer
        uint32_t lba = be32(2);
        std::optional<uint32_t> dataStart;
        for (const auto& t : disc->tracks) {
          if (!t.entry.audio()) dataStart = t.entry.frames() - 150;
        }
        answer = dataStart && lba == *dataStart + 16 ? volumeDescriptor(disc->label) : std::string(2352, '\0');
        break;
      }
      case 0x28:  // READ (10) of a DVD's sector 16
        if (!ready) return refuse("no disc");
        if (!disc->dvd) return refuse("READ (10) here is for DVDs");
        answer = be32(2) == 16 ? volumeDescriptor(disc->label) : std::string(2048, '\0');
        break;
      default:
        return refuse("the command is not known");
    }
    if (dataIn && data) {
      received = std::min(length, answer.size());
      std::memcpy(data, answer.data(), received);
    }
    return {};
  }

  std::string mountPoint() const override {
    if (!disc || trayOpen || disc->folder.empty() || !disc->hasData()) return {};
    std::filesystem::path p(disc->folder);
    if (p.is_relative()) p = std::filesystem::path(baseFolder) / p;
    std::error_code ec;
    return std::filesystem::is_directory(p, ec) ? p.lexically_normal().string() : std::string();
  }

  std::string device() const override { return name; }
};

}  // namespace

Result<std::unique_ptr<Transport>> simulatedDriveFromText(const std::string& text, const std::string& baseFolder,
                                                          const std::string& name) {
  // No DTD, no entities, nothing fetched.
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) return bad(name, "it is not well-formed XML");
  if (doc->intSubset) return bad(name, "it holds a DTD");
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || xmlStrcmp(root->name, xml::u("drive")) != 0) return bad(name, "its root element is not <drive>");
  auto drive = std::make_unique<SimulatedDrive>();
  drive->name = name;
  drive->baseFolder = baseFolder;
  drive->vendor = attribute(root, "vendor");
  drive->product = attribute(root, "product");
  drive->revision = attribute(root, "revision");
  if (drive->vendor.empty() && drive->product.empty()) {
    drive->vendor = "TAMBER";
    drive->product = "SIMULATED DRIVE";
    drive->revision = "1.0";
  }
  drive->trayOpen = attribute(root, "tray") == "open";
  if (xmlNode* d = xml::childElement(root, "disc")) {
    SimDisc disc;
    disc.label = attribute(d, "label");
    disc.mcn = attribute(d, "mcn");
    disc.folder = attribute(d, "folder");
    std::string info = attribute(d, "info");
    disc.infoType = info == "cd-i" ? 0x10 : info == "xa" ? 0x20 : 0;
    for (xmlNode* n = d->children; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      std::string element = xml::c(n->name);
      if (element == "track") {
        Track t;
        t.entry.adr = 1;
        t.entry.number = std::atoi(attribute(n, "number").c_str());
        std::string type = attribute(n, "type");
        if (type != "audio" && type != "data") return bad(name, "a track's type is \"audio\" or \"data\"");
        t.entry.control = type == "data" ? 0x04 : 0x00;
        if (!parseMsf(attribute(n, "start"), t.entry)) return bad(name, "a track's start is MM:SS:FF");
        t.isrc = attribute(n, "isrc");
        disc.tracks.push_back(t);
      } else if (element == "leadout") {
        disc.leadout.number = 0xAA;
        disc.leadout.adr = 1;
        if (!parseMsf(attribute(n, "start"), disc.leadout)) return bad(name, "the lead-out's start is MM:SS:FF");
      } else if (element == "cdtext") {
        auto packs = hexBytes(xml::content(n));
        if (!packs) return bad(name, "CD-TEXT: " + packs.message());
        disc.cdText = *packs;
      } else if (element == "dvd") {
        disc.dvd = true;
        disc.book = std::atoi(attribute(n, "book").c_str());
        disc.dvdStart = static_cast<uint32_t>(std::strtoul(attribute(n, "start").c_str(), nullptr, 10));
        disc.dvdEnd = static_cast<uint32_t>(std::strtoul(attribute(n, "end").c_str(), nullptr, 10));
      }
    }
    if (!disc.dvd) {
      if (disc.tracks.empty()) return bad(name, "a CD needs at least one track");
      if (disc.leadout.number != 0xAA) return bad(name, "a CD needs its <leadout>");
      // The drive's answer must be one a real drive could give.
      Toc toc;
      toc.firstTrack = disc.tracks.front().entry.number;
      toc.lastTrack = disc.tracks.back().entry.number;
      for (const auto& t : disc.tracks) toc.tracks.push_back(t.entry);
      toc.leadout = disc.leadout;
      if (auto check = decodeToc(encodeToc(toc)); !check) return bad(name, check.message());
    }
    drive->disc = std::move(disc);
  }
  return std::unique_ptr<Transport>(std::move(drive));
}

Result<std::unique_ptr<Transport>> openSimulatedDrive(const std::string& descriptionPath) {
  // A regular file of at most 4 MB, opened without blocking: a FIFO or a
  // device (/dev/zero) named as a description is refused before it is read.
  auto text = readRegularFile(descriptionPath, 4u << 20);
  if (!text) {
    if (text.error().code == Errc::not_found) return Error{Errc::not_found, descriptionPath + ": " + text.message()};
    if (text.error().code == Errc::too_large) return bad(descriptionPath, "it is larger than 4 MB");
    return bad(descriptionPath, text.message());
  }
  std::string base = std::filesystem::absolute(descriptionPath).parent_path().string();
  return simulatedDriveFromText(*text, base, "sim:" + descriptionPath);
}

}  // namespace tamber::disc
