#include "platform/browser/CallLimits.h"

#include <algorithm>
#include <atomic>

namespace browser::engine {
namespace {
std::atomic<int> callTimeout{30000};
std::atomic<int> captureLimit{0};
} // namespace

void setCallTimeoutMs(int ms) {
    callTimeout.store(std::max(1, ms));
}

int callTimeoutMs() {
    return callTimeout.load();
}

void setCaptureLimitMs(int ms) {
    captureLimit.store(std::max(0, ms));
}

int captureLimitMs() {
    return captureLimit.load();
}

} // namespace browser::engine
