#include "zel/stream/ZELDefs.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "zel/platform/ZELException.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTickClock.h"

namespace {

// 1 MiB + 128 bytes, given back to the allocator when an allocation failure is reported so that
// logging and raising the exception have room to allocate.
constexpr size_t kEmergencyReserveByteCount = 1048576 + 128;
// Touching one byte in 32 commits every page of the reserve.
constexpr size_t kEmergencyReserveTouchStride = 32;

// The allocation-failure message: prefix, one separating space, at most 994 bytes of the
// description, a newline and the terminating zero: 29 + 1 + 994 + 1 + 1 = 1026 bytes.
constexpr char kAllocationFailedPrefix[] = "!!! memory allocation failed:";
constexpr size_t kAllocationFailedPrefixLength = sizeof(kAllocationFailedPrefix) - 1;
constexpr size_t kMaxDescriptionByteCount = 994;
constexpr size_t kMessageBufferByteCount = 1026;
static_assert(kAllocationFailedPrefixLength + 1 + kMaxDescriptionByteCount + 2 ==
              kMessageBufferByteCount);

// Memory set aside at the first use of the error facilities and kept for the process's lifetime,
// so that an allocation failure can be reported without allocating first.
struct ZELEmergencyMemory {
    std::atomic<char*> reserve{nullptr};  // null once released (or if it could not be had)
    std::mutex messageLock;               // guards messageBuffer
    char messageBuffer[kMessageBufferByteCount] = {};
};

ZELEmergencyMemory& emergencyMemory() {
    static ZELEmergencyMemory* const memory = [] {
        auto* made = new ZELEmergencyMemory;
        auto* reserve = static_cast<char*>(std::malloc(kEmergencyReserveByteCount));
        if (reserve) {
            for (size_t i = 0; i < kEmergencyReserveByteCount; i += kEmergencyReserveTouchStride) {
                reserve[i] = static_cast<char>(i & 0xFF);
            }
        }
        made->reserve.store(reserve);
        return made;
    }();
    return *memory;
}

// The last assertion failure, to recognise a repeat of it. Guarded by assertionLock().
struct ZELAssertionRecord {
    std::string codeText;
    std::string fileName;
    bool hasFileName = false;
    int32_t lineNumber = -1;
    uint32_t repeatCount = 0;
    uint32_t firstTick = 0;  // ticks of 1/60 s
    uint32_t lastTick = 0;
};

std::mutex& assertionLock() {
    static std::mutex lock;
    return lock;
}

ZELAssertionRecord& assertionRecord() {  // guarded by assertionLock()
    static ZELAssertionRecord record;
    return record;
}

void startNewRecord(ZELAssertionRecord& record, const char* codeText, const char* fileName,
                    int lineNumber, uint32_t now) {
    record.codeText = codeText;
    record.hasFileName = fileName != nullptr;
    record.fileName = fileName ? fileName : "";
    record.lineNumber = lineNumber;
    record.repeatCount = 1;
    record.firstTick = now;
    record.lastTick = now;
}

constexpr double kTicksPerSecond = 60.0;
// A failure more than this long after the previous one is logged, whatever came before.
constexpr double kRepeatGapSeconds = 10.0;
// A record older than this is started afresh.
constexpr double kRecordLifetimeSeconds = 60.0;
// From this many failures on, an average interval of at most kRepeatIntervalSeconds since the
// first failure counts as repeating rapidly.
constexpr uint32_t kRepeatMinimumCount = 4;
constexpr double kRepeatIntervalSeconds = 5.0;

}  // namespace

void ZELAssertFailed(const char* codeText, const char* fileName, int lineNumber) {
    emergencyMemory();
    const char* text = codeText ? codeText : "";
    const uint32_t now = ZELTickCount();
    bool repeatsRapidly = false;
    {
        std::lock_guard<std::mutex> guard(assertionLock());
        ZELAssertionRecord& record = assertionRecord();
        const bool isRepeat = lineNumber == record.lineNumber && fileName != nullptr &&
                              record.hasFileName && record.fileName == fileName &&
                              record.codeText == text;
        if (!isRepeat) {
            startNewRecord(record, text, fileName, lineNumber, now);
        } else {
            ++record.repeatCount;
            // Tick differences are taken modulo 2^32, so a wrapping counter still measures.
            const double gap = static_cast<uint32_t>(now - record.lastTick) / kTicksPerSecond;
            record.lastTick = now;
            if (gap <= kRepeatGapSeconds) {
                const double elapsed =
                    static_cast<uint32_t>(now - record.firstTick) / kTicksPerSecond;
                if (elapsed > kRecordLifetimeSeconds) {
                    startNewRecord(record, text, fileName, lineNumber, now);
                } else if (record.repeatCount >= kRepeatMinimumCount &&
                           elapsed / record.repeatCount <= kRepeatIntervalSeconds) {
                    repeatsRapidly = true;
                }
            }
        }
    }
    // Logged outside the lock: a log sink may itself assert.
    if (repeatsRapidly) {
        ZELLogFormat("ASSERT repeatedly failed, ignoring: %s", text);
    } else {
        ZELLogFormat("ASSERT failed: %s", text);
    }
}

void ZELAbstractMethodWasCalled(const ZELObject& object, const char* operation,
                                const char* fileName, int lineNumber) {
    emergencyMemory();
    const std::string text =
        ZELStringWithFormat("abstract method should be implemented [%s %s]",
                            object.className().c_str(), operation ? operation : "");
    ZELAssertFailed(text.c_str(), fileName, lineNumber);
}

void ZELMemoryAllocationFailed(uint64_t byteCount, const char* what, const char* fileName,
                               int lineNumber) {
    ZELEmergencyMemory& memory = emergencyMemory();
    std::free(memory.reserve.exchange(nullptr));
    {
        std::lock_guard<std::mutex> guard(memory.messageLock);
        // Composed in the preallocated buffer: nothing here allocates.
        char* message = memory.messageBuffer;
        std::memcpy(message, kAllocationFailedPrefix, kAllocationFailedPrefixLength);
        size_t length = kAllocationFailedPrefixLength;
        message[length++] = ' ';
        const char* description = what ? what : "";
        const size_t descriptionLength = strnlen(description, kMaxDescriptionByteCount);
        std::memcpy(message + length, description, descriptionLength);
        length += descriptionLength;
        message[length++] = '\n';
        message[length] = '\0';

        std::printf("%s (%llu bytes)", message, static_cast<unsigned long long>(byteCount));
        std::fflush(stdout);
        ZELAssertFailed(message, fileName, lineNumber);
    }
    ZELRaise(ZELOutOfMemoryException, "out of memory");
}
