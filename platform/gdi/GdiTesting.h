// Failure injection for tests: makes one chosen call fail, so that the program's failure paths
// can be run on purpose. Production code never calls these.
#pragma once

#include "platform/gdi/Gdi.h"

namespace gdi::testing {

enum class Call {
    StretchDIBits,
    SetDIBitsToDevice,
    CreateCompatibleBitmap,
    CreateDIBSection,
    CreateCompatibleDC,
    SetDIBits,
    StretchBlt,
    GetDIBits,
    newdib, // the raster library's newdib, through the check tests install (pixolan/PixolanTesting.h)
};

// The nth next call (1 = the very next one) of the given kind fails, whichever DC it is on.
void FailNthCall(Call call, int nth = 1);
// Every call of the given kind on this device fails (a device that cannot do it), until cleared.
void FailOnDevice(HDC dc, Call call);
// Every call of the given kind fails until cleared.
void FailAlways(Call call);
void ClearFailures();

// Asked by the implementation at the top of each injectable call; true means "fail this one".
bool ShouldFail(Call call, HDC dc = nullptr);

// Live objects of the layer, for leak checks in tests.
struct ObjectCounts {
    int dcs = 0;
    int bitmaps = 0;
    int palettes = 0;
    int brushes = 0;
    int pens = 0;
};
ObjectCounts LiveObjects();

// Clears the failures when the scope ends.
struct FailureScope {
    FailureScope() = default;
    ~FailureScope() { ClearFailures(); }
    FailureScope(const FailureScope&) = delete;
    FailureScope& operator=(const FailureScope&) = delete;
};

} // namespace gdi::testing
