#include "zel/platform/ZELTickClock.h"

#include <chrono>
#include <mutex>

namespace {

std::mutex& sourceLock() {
    static std::mutex lock;
    return lock;
}

std::function<uint32_t()>& testSource() {  // guarded by sourceLock()
    static std::function<uint32_t()> source;
    return source;
}

}  // namespace

uint32_t ZELTickCount() {
    {
        std::lock_guard<std::mutex> guard(sourceLock());
        if (testSource()) return testSource()();
    }
    static const auto start = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 60 / 1000000);
}

void ZELSetTickSourceForTesting(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> guard(sourceLock());
    testSource() = std::move(source);
}
