#include "zel/idvector/ZELIndexSet.h"

#include <algorithm>

namespace {

uint64_t rangeLength(const ZELIndexSet::Range& range) {
    return uint64_t{range.last} - range.first + 1;
}

// Appends [first, last] to sorted ranges, joining it with the last range when they overlap or
// touch. Requires: first is not below the first index of the last range.
void appendRange(std::vector<ZELIndexSet::Range>& ranges, uint32_t first, uint32_t last) {
    if (!ranges.empty() && uint64_t{ranges.back().last} + 1 >= first) {
        ranges.back().last = std::max(ranges.back().last, last);
    } else {
        ranges.push_back({first, last});
    }
}

uint64_t totalLength(const std::vector<ZELIndexSet::Range>& ranges) {
    uint64_t total = 0;
    for (const auto& range : ranges) total += rangeLength(range);
    return total;
}

}  // namespace

size_t ZELIndexSet::rangeIndexAtOrAfter(uint32_t index) const {
    const auto found =
        std::lower_bound(ranges_.begin(), ranges_.end(), index,
                         [](const Range& range, uint32_t i) { return range.last < i; });
    return static_cast<size_t>(found - ranges_.begin());
}

bool ZELIndexSet::containsIndex(uint32_t index) const {
    const size_t at = rangeIndexAtOrAfter(index);
    return at < ranges_.size() && ranges_[at].first <= index;
}

bool ZELIndexSet::firstIndex(uint32_t& index) const {
    if (ranges_.empty()) return false;
    index = ranges_.front().first;
    return true;
}

bool ZELIndexSet::lastIndex(uint32_t& index) const {
    if (ranges_.empty()) return false;
    index = ranges_.back().last;
    return true;
}

void ZELIndexSet::addIndex(uint32_t index) {
    // Ascending additions, the usual case, extend or append the last range.
    if (ranges_.empty() || index > ranges_.back().last) {
        appendRange(ranges_, index, index);
        ++count_;
        return;
    }
    addIndexesInRange(index, index);
}

void ZELIndexSet::removeIndex(uint32_t index) {
    removeIndexesInRange(index, index);
}

void ZELIndexSet::addIndexesInRange(uint32_t first, uint32_t last) {
    if (first > last) return;
    // Ranges that overlap or touch [first, last] join it: from the first one ending at or
    // after first - 1 to the last one starting at or before last + 1.
    const size_t begin = rangeIndexAtOrAfter(first == 0 ? 0 : first - 1);
    size_t end = begin;
    Range joined{first, last};
    while (end < ranges_.size() && uint64_t{ranges_[end].first} <= uint64_t{last} + 1) {
        joined.first = std::min(joined.first, ranges_[end].first);
        joined.last = std::max(joined.last, ranges_[end].last);
        count_ -= rangeLength(ranges_[end]);
        ++end;
    }
    count_ += rangeLength(joined);
    if (begin == end) {
        ranges_.insert(ranges_.begin() + static_cast<std::ptrdiff_t>(begin), joined);
    } else {
        ranges_[begin] = joined;
        ranges_.erase(ranges_.begin() + static_cast<std::ptrdiff_t>(begin + 1),
                      ranges_.begin() + static_cast<std::ptrdiff_t>(end));
    }
}

void ZELIndexSet::removeIndexesInRange(uint32_t first, uint32_t last) {
    if (first > last) return;
    const size_t begin = rangeIndexAtOrAfter(first);
    size_t end = begin;
    while (end < ranges_.size() && ranges_[end].first <= last) ++end;
    if (begin == end) return;

    // What survives of the first and last affected ranges: the parts outside [first, last].
    Range pieces[2];
    size_t pieceCount = 0;
    if (ranges_[begin].first < first) pieces[pieceCount++] = {ranges_[begin].first, first - 1};
    if (ranges_[end - 1].last > last) pieces[pieceCount++] = {last + 1, ranges_[end - 1].last};
    for (size_t at = begin; at < end; ++at) count_ -= rangeLength(ranges_[at]);
    for (size_t at = 0; at < pieceCount; ++at) count_ += rangeLength(pieces[at]);

    ranges_.erase(ranges_.begin() + static_cast<std::ptrdiff_t>(begin),
                  ranges_.begin() + static_cast<std::ptrdiff_t>(end));
    ranges_.insert(ranges_.begin() + static_cast<std::ptrdiff_t>(begin), pieces,
                   pieces + pieceCount);
}

void ZELIndexSet::addIndexes(const ZELIndexSet& other) {
    if (&other == this || other.ranges_.empty()) return;
    std::vector<Range> merged;
    merged.reserve(ranges_.size() + other.ranges_.size());
    auto mine = ranges_.begin();
    auto theirs = other.ranges_.begin();
    while (mine != ranges_.end() || theirs != other.ranges_.end()) {
        const bool takeMine = theirs == other.ranges_.end() ||
                              (mine != ranges_.end() && mine->first <= theirs->first);
        const Range& next = takeMine ? *mine++ : *theirs++;
        appendRange(merged, next.first, next.last);
    }
    ranges_ = std::move(merged);
    count_ = totalLength(ranges_);
}

void ZELIndexSet::removeIndexes(const ZELIndexSet& other) {
    if (&other == this) {
        removeAllIndexes();
        return;
    }
    if (other.ranges_.empty() || ranges_.empty()) return;
    std::vector<Range> kept;
    kept.reserve(ranges_.size() + other.ranges_.size());
    auto cut = other.ranges_.begin();
    for (Range piece : ranges_) {
        // Skip the cuts that end before this range, then carve out those that overlap it.
        while (cut != other.ranges_.end() && cut->last < piece.first) ++cut;
        bool pieceLeft = true;
        for (auto overlapping = cut;
             overlapping != other.ranges_.end() && overlapping->first <= piece.last;
             ++overlapping) {
            if (overlapping->first > piece.first)
                kept.push_back({piece.first, overlapping->first - 1});
            if (overlapping->last >= piece.last) {
                pieceLeft = false;
                break;
            }
            piece.first = overlapping->last + 1;
        }
        if (pieceLeft) kept.push_back(piece);
    }
    ranges_ = std::move(kept);
    count_ = totalLength(ranges_);
}

void ZELIndexSet::removeAllIndexes() {
    ranges_.clear();
    count_ = 0;
}

void ZELIndexSet::enumerateIndexes(ZELFunctionRef<void(uint32_t index, bool& stop)> visitor) const {
    bool stop = false;
    for (const auto& range : ranges_) {
        for (uint64_t index = range.first; index <= range.last; ++index) {
            visitor(static_cast<uint32_t>(index), stop);
            if (stop) return;
        }
    }
}

size_t ZELIndexSet::getIndexes(uint32_t* buffer, size_t maxCount) const {
    size_t written = 0;
    for (const auto& range : ranges_) {
        for (uint64_t index = range.first; index <= range.last; ++index) {
            if (written == maxCount) return written;
            buffer[written++] = static_cast<uint32_t>(index);
        }
    }
    return written;
}
