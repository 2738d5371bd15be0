// Puts newdib under the raster layer's failure injection, so that a test makes it fail the way
// it makes any raster call fail: gdi::testing::FailNthCall(Call::newdib), FailAlways(...).
#include "pixolan/PixolanTesting.h"
#include "platform/gdi/GdiTesting.h"

namespace {

const bool installed = [] {
    pixolan::testing::SetNewdibFailureCheck(
        [] { return gdi::testing::ShouldFail(gdi::testing::Call::newdib); });
    return true;
}();

} // namespace
