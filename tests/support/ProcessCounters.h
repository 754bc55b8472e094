// ProcessCounters.h - what a leak check compares before and after a run of exchanges: the
// process's handle count and the bytes in use on the C library's heap (a heap walk). (Wine keeps no peak
// memory counters, so peaks are not measured.)
#pragma once

#include <stddef.h>

namespace vlagt::test {

size_t HandleCount();
// Sum of the blocks in use on the C library's heap (malloc, new, the module's blocks).
size_t HeapBytesInUse();

} // namespace vlagt::test
