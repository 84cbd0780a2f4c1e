// The one interface through which the storage engine touches its file.
//
// Tests put their own implementation behind it to count bytes, fail a write
// or drop unsynced writes as a power cut would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/result.h"

namespace tamber::storage {

// How one writer and any number of readers share a file. Every lock lies
// far past the end of any file (from byte 2^62 on), so no byte of data is
// ever locked and reads and writes never wait for a lock:
//  - the writer byte, held by the one writer for as long as it has the file
//    open, beside two bytes that tell a second writer which process holds
//    it and since when;
//  - the switch byte, held exclusively by the writer while it writes the
//    header, and shared by a reader while it reads the header and registers;
//  - one byte per committed state: a reader of the state of transaction T
//    holds a shared lock on byte readerBase + T for as long as it reads it.
// The writer asks which states live readers read and does not reuse the
// sectors those states hold (see Engine::releaseHeld).
class FileSharing {
 public:
  virtual ~FileSharing() = default;
  // The short exclusive moment of the switch from one state to the next
  // (the writer) or of choosing a state to read (a reader); waits a few
  // seconds at most, then fails with Errc::locked.
  virtual Status holdSwitch(bool exclusive) = 0;
  virtual void releaseSwitch() = 0;
  // This open reads the state of `transaction` from now on.
  virtual Status readState(uint32_t transaction) = 0;
  // How many transactions before `current` the oldest state is that another
  // open still reads; -1 when no other open reads any.
  virtual int64_t oldestReaderAge(uint32_t current) = 0;
  // Whether a writer (another open) holds the file now.
  virtual bool writerPresent() = 0;
  // The file's modification time as it is now, to be put back by
  // restoreTime() when changes made after this moment are abandoned.
  virtual void keepTime() = 0;
  virtual void restoreTime() = 0;
};

class FileIo {
 public:
  virtual ~FileIo() = default;
  // Reads up to n bytes at off; returns the count read (short only at the end of the file).
  virtual Result<size_t> read(uint64_t off, void* buf, size_t n) = 0;
  // Writes all n bytes at off or fails.
  virtual Status write(uint64_t off, const void* buf, size_t n) = 0;
  // Makes every completed write durable (fdatasync).
  virtual Status sync() = 0;
  virtual Status truncate(uint64_t size) = 0;
  virtual Result<uint64_t> size() = 0;
  // Null for a file that nobody else can open (test doubles, files in
  // memory): the engine is then its only user.
  virtual FileSharing* sharing() { return nullptr; }
};

enum class OpenMode { read_only, read_write };

// A regular file shared through open-file-description locks (FileSharing):
// a read-write open holds the writer byte and fails with Errc::locked when
// another open holds it, from this process or another, saying which program
// writes the file and since when where that can be told; read-only opens
// never wait for the writer. createPosixFile makes a new file and fails when
// one of that name exists.
Result<std::unique_ptr<FileIo>> openPosixFile(const std::filesystem::path& path, OpenMode mode);
Result<std::unique_ptr<FileIo>> createPosixFile(const std::filesystem::path& path);
// Takes over a descriptor open for reading and writing, locked for writing.
Result<std::unique_ptr<FileIo>> adoptPosixFile(int fd, const std::filesystem::path& path);

// Who writes a file now: the program (its command line, when this process
// may see it and it holds the file open) and since when; `present` is false
// when no writer holds the file.
struct WriterInfo {
  bool present = false;
  std::string program;  // "tamber add-folder /media/usb", empty when unknown
  long pid = 0;         // 0 when unknown
  int64_t since = 0;    // seconds since the epoch, 0 when unknown
};
WriterInfo describeWriter(const std::filesystem::path& path);
// "tamber add-folder /media/usb (process 4242)" or "another program".
std::string writerName(const WriterInfo& who);
// "14:05" today, "2026-12-07 14:05" before; empty when unknown.
std::string writerSince(const WriterInfo& who);

// The text of errno for messages.
std::string systemMessage(int err);

}  // namespace tamber::storage
