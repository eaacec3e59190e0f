#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "zel/platform/ZELLog.h"

// Collects the log lines written while it lives, from any thread, and then puts back the sink
// it replaced. A test that only wants a quiet log makes one and never reads it.
class ZELTestLogCapture {
public:
    ZELTestLogCapture()
        : previous_(ZELSetLogSink([this](std::string_view line) {
              std::lock_guard<std::mutex> guard(lock_);
              lines_.emplace_back(line);
              changed_.notify_all();
          })) {}
    ~ZELTestLogCapture() { ZELSetLogSink(std::move(previous_)); }
    ZELTestLogCapture(const ZELTestLogCapture&) = delete;
    ZELTestLogCapture& operator=(const ZELTestLogCapture&) = delete;

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.clear();
    }
    // The lines once there are `count` of them, or when 20 seconds have passed.
    std::vector<std::string> waitForLines(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(20), [&] { return lines_.size() >= count; });
        return lines_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;  // guarded by lock_
    ZELLogSink previous_;             // made last: the sink uses the members above
};
