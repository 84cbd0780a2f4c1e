// How command blocks reach a drive: SG_IO on a /dev/sr device, or the
// simulated drive that answers from a disc description. Every command
// operation builds its block once; only the transport differs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"

namespace tamber::disc {

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends `cdb`; with `dataIn` up to `length` bytes come back into `data`
  // (`received` says how many). Fails on a check condition, a time-out or
  // a transport error.
  virtual Status execute(const std::vector<uint8_t>& cdb, uint8_t* data, size_t length, bool dataIn,
                         size_t& received) = 0;
  // Where the disc's file system is mounted, when it is.
  virtual std::string mountPoint() const = 0;
  // The device path or "sim:FILE".
  virtual std::string device() const = 0;
};

// The seconds a command may take.
inline constexpr int kCommandTimeoutSeconds = 10;

// Opens /dev/srN (without blocking, read-only) for SG_IO.
Result<std::unique_ptr<Transport>> openSgTransport(const std::string& devicePath);

}  // namespace tamber::disc
