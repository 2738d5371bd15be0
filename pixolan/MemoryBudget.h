// How much memory this process can still take without the system killing it later.
//
// Linux hands out address space freely and only fails when pages are first written, by killing
// a process. A picture must therefore be refused while it is still a number: against the memory
// the system reports as available and against the limit of our control group, if any.
#pragma once

#include <cstdint>

namespace pixolan {

// Bytes that can be allocated and written now: the smaller of MemAvailable and the cgroup's
// remaining allowance. Returns UINT64_MAX when neither can be read.
std::uint64_t availableMemory();

// Whether a block of this many bytes fits, leaving a reserve for the rest of the program.
bool memoryAvailableFor(std::uint64_t bytes);

// Tests can pretend the machine has only this much available (0 removes the pretence).
void setAvailableMemoryForTesting(std::uint64_t bytes);

} // namespace pixolan
