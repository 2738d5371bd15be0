#include "pixolan/MemoryBudget.h"

#include <atomic>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace pixolan {
namespace {

std::atomic<std::uint64_t> g_pretend{0};

// What the program needs beside a picture: the widgets, the engine's pipes, a strip or two.
constexpr std::uint64_t kReserve = 64ull << 20;

std::uint64_t readMemAvailable() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0;
    std::string unit;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemAvailable:") return value * 1024;
    }
    return std::numeric_limits<std::uint64_t>::max();
}

// cgroup v2: the group's limit minus what it uses already. "max" means no limit.
std::uint64_t readCgroupRemaining() {
    constexpr auto none = std::numeric_limits<std::uint64_t>::max();
    std::ifstream cg("/proc/self/cgroup");
    std::string line, path;
    while (std::getline(cg, line)) {
        if (line.rfind("0::", 0) == 0) {
            path = line.substr(3);
            break;
        }
    }
    if (path.empty()) return none;
    const std::string base = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
    std::ifstream maxFile(base + "/memory.max");
    std::string maxText;
    if (!(maxFile >> maxText) || maxText == "max") return none;
    std::ifstream curFile(base + "/memory.current");
    std::uint64_t current = 0;
    curFile >> current;
    const std::uint64_t limit = std::stoull(maxText);
    return limit > current ? limit - current : 0;
}

} // namespace

std::uint64_t availableMemory() {
    if (const auto p = g_pretend.load()) return p;
    std::uint64_t avail = readMemAvailable();
    try {
        const std::uint64_t cg = readCgroupRemaining();
        if (cg < avail) avail = cg;
    } catch (...) {
        // An unreadable cgroup file leaves the system figure.
    }
    return avail;
}

bool memoryAvailableFor(std::uint64_t bytes) {
    const std::uint64_t avail = availableMemory();
    if (avail == std::numeric_limits<std::uint64_t>::max()) return true;
    return avail > kReserve && bytes <= avail - kReserve;
}

void setAvailableMemoryForTesting(std::uint64_t bytes) {
    g_pretend = bytes;
}

} // namespace pixolan
