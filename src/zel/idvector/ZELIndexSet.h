#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"

// An ordered set of unsigned 32-bit indexes kept as sorted, disjoint, non-adjacent closed
// ranges [first, last]: the storage of the index-set ID vectors. Dense runs cost one range.
// A value type; copy it to share. Not thread-safe while being changed.
class ZELIndexSet {
public:
    struct Range {
        uint32_t first;
        uint32_t last;  // inclusive
        friend bool operator==(const Range&, const Range&) = default;
    };

    ZELIndexSet() = default;

    uint64_t count() const { return count_; }
    bool isEmpty() const { return ranges_.empty(); }
    bool containsIndex(uint32_t index) const;
    // First / last index; false (and `index` untouched) when the set is empty.
    bool firstIndex(uint32_t& index) const;
    bool lastIndex(uint32_t& index) const;

    void addIndex(uint32_t index);
    void removeIndex(uint32_t index);
    void addIndexesInRange(uint32_t first, uint32_t last);
    void removeIndexesInRange(uint32_t first, uint32_t last);
    void addIndexes(const ZELIndexSet& other);
    void removeIndexes(const ZELIndexSet& other);
    void removeAllIndexes();

    // Calls visitor(index, stop) in ascending order until it sets stop.
    void enumerateIndexes(ZELFunctionRef<void(uint32_t index, bool& stop)> visitor) const;
    // Copies the first min(count, maxCount) indexes to `buffer`; answers how many.
    size_t getIndexes(uint32_t* buffer, size_t maxCount) const;

    const std::vector<Range>& ranges() const { return ranges_; }

    friend bool operator==(const ZELIndexSet& a, const ZELIndexSet& b) {
        return a.ranges_ == b.ranges_;
    }

private:
    // Index of the first range whose last >= index (ranges_.size() when none).
    size_t rangeIndexAtOrAfter(uint32_t index) const;

    std::vector<Range> ranges_;
    uint64_t count_ = 0;
};
