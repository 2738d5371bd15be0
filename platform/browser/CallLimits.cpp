#include "platform/browser/CallLimits.h"

#include <algorithm>
#include <atomic>

namespace browser::engine {
namespace {
std::atomic<int> callTimeout{30000};
} // namespace

void setCallTimeoutMs(int ms) {
    callTimeout.store(std::max(1, ms));
}

int callTimeoutMs() {
    return callTimeout.load();
}

} // namespace browser::engine
