#include "zel/platform/ZELLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "zel/platform/ZELString.h"

namespace {

std::mutex& sinkLock() {
    static std::mutex lock;
    return lock;
}

ZELLogSink& currentSink() {  // guarded by sinkLock()
    static ZELLogSink sink;
    return sink;
}

}  // namespace

void ZELLog(std::string_view line) {
    std::lock_guard<std::mutex> guard(sinkLock());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    std::fprintf(stderr, "ZEL: %.*s\n", static_cast<int>(line.size()), line.data());
}

void ZELLogFormat(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string line = ZELStringWithFormatV(format, arguments);
    va_end(arguments);
    ZELLog(line);
}

ZELLogSink ZELSetLogSink(ZELLogSink sink) {
    std::lock_guard<std::mutex> guard(sinkLock());
    ZELLogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}
