// Fuzz target: the description of a simulated drive, then everything the
// drive manager reads through it: inquiry, table of contents, ISRCs,
// catalog number, disc identity and CD-TEXT.

#include <cstddef>
#include <cstdint>
#include <string>

#include "disc/drive_manager.h"
#include "disc/sim_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto transport = tamber::disc::simulatedDriveFromText(text, "/nonexistent");
  if (!transport) return 0;
  tamber::disc::CdDriveManager drives;
  int index = drives.addTransport(std::move(*transport));
  if (drives.readDisc(index)) {
    tamber::disc::DiscIdentity id;
    (void)drives.computeDiscIdentity(index, id);
    (void)drives.readCdText(index);
  }
  (void)drives.record(index);
  return 0;
}
