// The command line's view of recorded values: the shared presentation, and
// the orders a listing can be sorted in.
#pragma once

#include "app/presentation.h"

namespace tamber::cli {

enum class Sort { name, size, time, none };

using app::isoTimeJson;
using app::kindJson;
using app::kindText;
using app::localTimeText;
using app::numberJson;
using app::propertiesJson;
using app::propertiesText;
using app::sizeText;

}  // namespace tamber::cli
