// A counter that moves on each time the Qt event loop has run since it was last read. A caller
// that draws the view many times without returning to the event loop (a capture in pieces)
// sees one value throughout, and may rely on the page not having been scrolled or changed by
// the user meanwhile.
#pragma once

#include <cstdint>

namespace browser {

std::uint64_t eventLoopGeneration();

} // namespace browser
