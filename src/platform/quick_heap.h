// The memory of a command that is over in milliseconds, made present at
// once. On a virtual machine each first touch of a page can be a trap to
// the hypervisor (about 10 µs each on the machine the benchmarks run on,
// where a search touched some 900 pages), while making a stretch of pages
// present in one call costs under 1 µs a page; on bare metal both are cheap.
#pragma once

#include <cstddef>

namespace tamber::platform {

// Makes the next `bytes` of the main heap present, keeping what is freed
// there for reuse. The threads keep heaps of their own: one heap for all
// made a search of a million hits a third slower. Does nothing where the
// system cannot.
void prepareQuickHeap(size_t bytes);

}  // namespace tamber::platform
