// The track items of an audio disc's listing: a file item of type "cda"
// whose length in frames stands where a file's size would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tamber::disc {

// A listing entry that is an audio track: its name holds ".cda" or its
// type is "cda".
inline bool isAudioTrackItem(std::string_view name, std::string_view type) {
  return name.find(".cda") != std::string_view::npos || type == "cda";
}

// A length in frames (75 per second) as minutes and seconds, "%d:%02d".
std::string trackLengthText(uint64_t frames);

}  // namespace tamber::disc
