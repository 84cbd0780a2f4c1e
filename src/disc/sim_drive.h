// A simulated drive: answers the same command blocks as a real drive from a
// disc description file, so that everything above the transport runs
// without hardware (tests, and `--drive sim:FILE`).
//
//   <drive vendor="PLEXTOR" product="DVDR PX-716A" revision="1.11" tray="closed">
//     <disc label="HOLIDAY" mcn="0724349532729" info="xa" folder="data">
//       <track number="1" start="00:02:00" type="audio" isrc="USRC17607839"/>
//       <track number="2" start="03:10:42" type="data"/>
//       <leadout start="40:00:00"/>
//       <cdtext>80 00 00 00 41 6c 62 75 6d 00 ...</cdtext>
//       <dvd book="0" start="196608" end="2491711"/>   (instead of tracks)
//     </disc>
//   </drive>
//
// Addresses are absolute, as a drive reports them (the 2-second lead-in
// included). `folder` (relative to the description's folder) holds the
// files of the data session. Without a disc element the drive is empty.
#pragma once

#include <memory>
#include <string>

#include "disc/transport.h"

namespace tamber::disc {

// Reads the description; a file that is not one gives a clear error.
Result<std::unique_ptr<Transport>> openSimulatedDrive(const std::string& descriptionPath);

// The description as text, for tests that build one on the fly.
Result<std::unique_ptr<Transport>> simulatedDriveFromText(const std::string& text, const std::string& baseFolder,
                                                          const std::string& name = "sim:");

}  // namespace tamber::disc
