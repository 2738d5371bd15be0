#include "platform/gdi/GdiTesting.h"

#include <array>
#include <map>
#include <set>

namespace gdi {

class DeviceContext;

namespace {

constexpr std::size_t kCalls = std::size_t(testing::Call::newdib) + 1;

struct Failures {
    std::array<int, kCalls> countdown{}; // 0: none pending
    std::array<bool, kCalls> always{};
    std::map<const void*, std::set<testing::Call>> devices;
};

Failures& failures() {
    static Failures f;
    return f;
}

} // namespace

namespace detail {

// A deleted DC's address may come back for a new one, which must not inherit its failures.
void forgetDeviceFailures(const DeviceContext* dc) {
    failures().devices.erase(dc);
}

} // namespace detail

namespace testing {

void FailNthCall(Call call, int nth) {
    failures().countdown[std::size_t(call)] = nth > 0 ? nth : 0;
}

void FailOnDevice(HDC dc, Call call) {
    if (dc) failures().devices[dc].insert(call);
}

void FailAlways(Call call) {
    failures().always[std::size_t(call)] = true;
}

void ClearFailures() {
    failures() = Failures{};
}

bool ShouldFail(Call call, HDC dc) {
    Failures& f = failures();
    const std::size_t i = std::size_t(call);
    bool fail = false;
    // Every call counts towards the nth, also those that fail for another reason.
    if (f.countdown[i] > 0 && --f.countdown[i] == 0) fail = true;
    if (f.always[i]) fail = true;
    if (dc) {
        const auto it = f.devices.find(dc);
        if (it != f.devices.end() && it->second.count(call)) fail = true;
    }
    return fail;
}

} // namespace testing
} // namespace gdi
