// TamberMedia: the metadata extractors, exported by name from
// libtambermedia.so. No exception crosses this interface except the
// out-of-memory error of the document extractors' constructors.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#define TAMBER_MEDIA_EXPORT __attribute__((visibility("default")))

// Which audio reader loadInfo uses.
enum AudioKind : int {
  kAudioMpeg = 0,
  kAudioOggVorbis = 1,
  kAudioAsf = 2,
  kAudioApe = 3,
  kAudioFlac = 4,
  kAudioOpus = 5,
  kAudioMp4 = 6,
};

// The reader a file's first bytes call for (at least 64 of them, when the
// file has that many): `kind` itself when they name no format the readers
// know, or only one that `kind` reads too (an ID3v2 tag in front of a FLAC
// or Monkey's Audio file).
TAMBER_MEDIA_EXPORT int AudioKindOfHead(const void* head, size_t size, int kind);

// The general tag record and the audio front.
class TAMBER_MEDIA_EXPORT CGeneralTagsInfo {
 public:
  CGeneralTagsInfo();
  virtual ~CGeneralTagsInfo();
  CGeneralTagsInfo(const CGeneralTagsInfo&) = delete;
  CGeneralTagsInfo& operator=(const CGeneralTagsInfo&) = delete;

  // Creates the readers; without it every loadInfo returns 0.
  void CreateForAnalysis();
  // Reads one file with the reader of `kind`: 1 on success, 0 on failure
  // (the record then holds its reset values). Never throws.
  int loadInfo(const std::u16string& path, int kind);

  std::u16string codecText;
  std::u16string channelsText;
  std::u16string bitRateText;
  std::u16string durationText;
  std::u16string title;
  std::u16string artist;
  std::u16string album;
  std::u16string genre;
  std::u16string comment;
  std::u16string lyrics;
  std::u16string vendorText;
  std::u16string compressionText;
  std::u16string otherTags;
  int32_t sampleRate = 0;
  int32_t fileSize = 0;
  int32_t year = 0;
  int32_t track = -1;

 private:
  void reset();
  struct Readers;
  std::unique_ptr<Readers> readers_;
};

// Document extractors: all work in the constructor, then queries. A null
// scratch buffer raises std::bad_alloc from the constructor.
class TAMBER_MEDIA_EXPORT CExecutable {
 public:
  struct tag_ModuleInfo {
    std::u16string comments, companyName, fileDescription, fileVersion, languages, internalName,
        legalCopyright, legalTrademarks, originalFileName, productName, productVersion,
        specialBuild;
  };
  CExecutable(const std::u16string& path, uint8_t* scratch, int size);
  int isValidFormat() const { return valid_; }
  tag_ModuleInfo* getfileInfo() { return valid_ ? &info_ : nullptr; }
  static void ResetPorps(tag_ModuleInfo& info);

 private:
  tag_ModuleInfo info_;
  int valid_ = 0;
};

class TAMBER_MEDIA_EXPORT CHTMLExtract {
 public:
  struct tag_HTMLInfo {
    std::u16string title, description, keywords;
  };
  CHTMLExtract(const std::u16string& path, uint8_t* scratch, int size, const char16_t* extension);
  int isValidFormat() const { return valid_; }
  tag_HTMLInfo* getHtmlInfo() { return found_ ? &info_ : nullptr; }
  static void ResetPorps(tag_HTMLInfo& info);

 private:
  tag_HTMLInfo info_;
  int valid_ = 0;
  bool found_ = false;
};

class TAMBER_MEDIA_EXPORT COfficeExtract {
 public:
  struct tag_OFFICEPROPS {
    std::u16string title, subject, author, keywords, comments, templateName, lastAuthor,
        applicationName;
    int32_t revisionNumber = -1;
    int32_t pageCount = 0;
    std::u16string editTime, lastPrinted, created, lastSaved;
  };
  COfficeExtract(const std::u16string& path, uint8_t* scratch, int size);
  int isValidFormat() const { return valid_; }
  tag_OFFICEPROPS* getOfficefileInfo() { return valid_ ? &info_ : nullptr; }
  static void ResetPorps(tag_OFFICEPROPS& info);

 private:
  tag_OFFICEPROPS info_;
  int valid_ = 0;
};

class TAMBER_MEDIA_EXPORT CPDFExtract {
 public:
  struct tag_PDFSummary {
    std::u16string title, subject, author, keywords, creator, producer, version, creationDate,
        modificationDate;
    int32_t pageCount = 0;
  };
  CPDFExtract(const std::u16string& path, uint8_t* scratch, int size);
  int isValidFormat() const { return valid_; }
  tag_PDFSummary* getPDFInfo() { return valid_ ? &info_ : nullptr; }
  static void ResetPorps(tag_PDFSummary& info);

 private:
  tag_PDFSummary info_;
  int valid_ = 0;
};

// The character scrub: every character XML does not allow, up to `length`
// characters (0: up to the terminating zero; negative: nothing), is replaced
// in place. 8-bit: tab, LF, CR and 32-127 stay, everything else (every byte
// of 128 and above too) is replaced. UTF-16: 9, 10, 13, 32-D7FF and E000-FFFE
// stay.
TAMBER_MEDIA_EXPORT void CheckStringForIllegalChar(char* s, int length, char replacement);
TAMBER_MEDIA_EXPORT void CheckStringForIllegalWChar(char16_t* s, int length, char16_t replacement);

// Finds the first match of `pattern` (the document readers' dialect, see
// pattern.h) in the zero-terminated `text` (8-bit Windows-1252 or, with
// `wide`, UTF-16); on a match with a group, stores the first group (converted
// and scrubbed) in `out` and returns 1; else returns 0 and leaves `out`.
TAMBER_MEDIA_EXPORT int PatternMatch(const void* text, const char* pattern, std::u16string& out,
                                     bool wide);

// The HexTime of a local calendar time; nothing for a time before 1900 or one
// that does not convert.
TAMBER_MEDIA_EXPORT std::optional<std::u16string> HexTimeOfLocalTime(const std::tm& local);

// "%02d:%02d" (minutes, seconds) under an hour, else "%02d:%02d:%02d".
TAMBER_MEDIA_EXPORT std::u16string DurationText(int seconds);

// The PCM structures of the lossless-audio SDK's interface, kept for callers
// that build WAV headers; nothing in Tamber+ calls them.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
struct WAVE_HEADER {
  char cRIFFHeader[4];
  uint32_t nRIFFBytes;
  char cDataTypeID[4];
  char cFormatHeader[4];
  uint32_t nFormatBytes;
  uint16_t nFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t nBitsPerSample;
  char cDataHeader[4];
  uint32_t nDataBytes;
};
#pragma pack(pop)
TAMBER_MEDIA_EXPORT int FillWaveFormatEx(WAVEFORMATEX* format, int sampleRate, int bitsPerSample,
                                         int channels);
TAMBER_MEDIA_EXPORT int FillWaveHeader(WAVE_HEADER* header, int audioBytes, WAVEFORMATEX* format,
                                       int terminatingBytes);
