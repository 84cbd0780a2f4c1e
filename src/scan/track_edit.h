// Editing the track items of a catalogued audio disc in place in its
// listing: the title, performer, composer or songwriter of one track.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/library.h"

namespace tamber::scan {

// The columns of the audio page that can be edited, and the track item
// field each one writes.
enum class TrackColumn { title = 1, performer = 3, composer = 5, songwriter = 6 };

// Sets the field of the track at `position` (1-based, in disc order) of the
// disc item `number` in `category`. The length and the ISRC are not
// editable; an empty title is refused; an empty other field is removed.
Status editTrackField(catalog::Library& library, const catalog::ItemPath& category, uint16_t number, int position,
                      TrackColumn column, const std::string& text);

}  // namespace tamber::scan
