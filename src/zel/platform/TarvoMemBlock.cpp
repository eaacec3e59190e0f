#include "zel/platform/TarvoMemBlock.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The byte size of `count` elements, or false when it cannot be allocated at all: no object
// may be larger than PTRDIFF_MAX bytes, and pointer differences within it must stay defined.
bool byteSize(uint64_t count, size_t elementSize, size_t* bytes) {
    constexpr uint64_t kMaxBytes = static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max());
    if (elementSize == 0 || count > kMaxBytes / elementSize) return false;
    *bytes = static_cast<size_t>(count * elementSize);
    return true;
}

bool reallocBlock(void** block, uint64_t* capacity, size_t elementSize, uint64_t newCapacity,
                  bool zeroAddedElements) {
    size_t newBytes;
    if (!byteSize(newCapacity, elementSize, &newBytes)) return false;
    if (newBytes == 0) {
        // realloc with size 0 may answer null or a live block; keep the contract plain.
        std::free(*block);
        *block = nullptr;
        *capacity = 0;
        return true;
    }
    void* const resized = std::realloc(*block, newBytes);
    if (resized == nullptr) return false;  // the old block is untouched
    if (zeroAddedElements && newCapacity > *capacity) {
        const size_t oldBytes = static_cast<size_t>(*capacity * elementSize);  // < newBytes
        std::memset(static_cast<char*>(resized) + oldBytes, 0, newBytes - oldBytes);
    }
    *block = resized;
    *capacity = newCapacity;
    return true;
}

}  // namespace

bool TarvoMemBlock_ReallocImp(void** block, uint64_t* capacity, size_t elementSize,
                              uint64_t newCapacity) {
    return reallocBlock(block, capacity, elementSize, newCapacity, false);
}

bool TarvoMemBlock_ReallocZeroedImp(void** block, uint64_t* capacity, size_t elementSize,
                                    uint64_t newCapacity) {
    return reallocBlock(block, capacity, elementSize, newCapacity, true);
}
