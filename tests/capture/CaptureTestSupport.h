#pragma once
// Helpers the capture tests share.

#include "pixolan/DibAllocation.h"
#include "platform/gdi/GdiTesting.h"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>

namespace capture_tests {

// An 'F', red on blue, with a green dot at the bottom-right of a w x h picture (top = 0 is the
// top row): a flip, a shift or a red/blue swap shows.
inline std::uint32_t letterF(int x, int top, int w, int h) {
    if (x == w - 1 && top == h - 1) return 0x00FF00;
    const bool stem = x == 1 && top >= 1 && top < h - 1;
    const bool bar = (top == 1 || top == h / 2) && x >= 1 && x < w - 1;
    return stem || bar ? 0xFF0000 : 0x0000FF;
}

// The drawing objects and pictures alive when it was made: whatever a test makes beyond them
// must be gone again at its end.
struct Baseline {
    gdi::testing::ObjectCounts objects = gdi::testing::LiveObjects();
    std::size_t dibs = pixolan::liveDibCount();
    // extraDibs: pictures the code under test hands back to its caller.
    void expectNothingLeft(std::size_t extraDibs = 0) const {
        const auto now = gdi::testing::LiveObjects();
        EXPECT_EQ(now.dcs, objects.dcs);
        EXPECT_EQ(now.bitmaps, objects.bitmaps);
        EXPECT_EQ(now.palettes, objects.palettes);
        EXPECT_EQ(pixolan::liveDibCount(), dibs + extraDibs);
    }
};

} // namespace capture_tests
