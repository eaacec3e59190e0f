#include "zel/idvector/ZELIDArray.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// When one array is this many times longer than the other, the set operations stop walking
// the long one ID by ID and gallop through it instead (same results, fewer comparisons).
constexpr uint64_t kGallopRatio = 32;

bool shouldGallop(uint64_t shorterCount, uint64_t longerCount) {
    return shorterCount * kGallopRatio < longerCount;
}

// First index in [begin, end) whose ID is >= key, else end. Branch-free halving.
inline uint32_t lowerBound(const ZELID* ids, uint32_t begin, uint32_t end, ZELID key) {
    if (begin >= end) return end;
    const ZELID* base = ids + begin;
    uint32_t length = end - begin;
    while (length > 1) {
        const uint32_t half = length / 2;
        base = (base[half] < key) ? base + half : base;
        length -= half;
    }
    return static_cast<uint32_t>(base - ids) + (*base < key);
}

// lowerBound over [begin, end), probing begin+1, begin+3, begin+7, ... first: cheap when the
// answer lies near `begin`, as it does when the keys come in ascending order.
inline uint32_t gallopLowerBound(const ZELID* ids, uint32_t begin, uint32_t end, ZELID key) {
    if (begin >= end || ids[begin] >= key) return begin;
    uint32_t below = begin;  // ids[below] < key
    uint64_t step = 1;
    uint64_t probe = uint64_t{begin} + 1;
    while (probe < end && ids[probe] < key) {
        below = static_cast<uint32_t>(probe);
        step <<= 1;
        probe = below + step;
    }
    return lowerBound(ids, below + 1, static_cast<uint32_t>(std::min<uint64_t>(probe, end)), key);
}

inline void moveIDs(ZELID* to, const ZELID* from, uint64_t count) {
    if (count != 0 && to != from) std::memmove(to, from, count * sizeof(ZELID));
}

// Merges two normalized arrays into `out`, which has room for all of them and overlaps
// neither, except that `out` may lie below `a` in the same array (the in-place union, where
// the output never overtakes the unread part of `a`). Answers the number written.
uint32_t mergeUnion(const ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount, ZELID* out) {
    uint32_t i = 0, j = 0, k = 0;
    if (shouldGallop(bCount, aCount) || shouldGallop(aCount, bCount)) {
        // Few IDs on one side: copy the runs of the long side between them in blocks.
        const bool aIsLong = aCount > bCount;
        const ZELID* longIDs = aIsLong ? a : b;
        const ZELID* shortIDs = aIsLong ? b : a;
        const uint32_t longCount = aIsLong ? aCount : bCount;
        const uint32_t shortCount = aIsLong ? bCount : aCount;
        uint32_t cursor = 0;
        for (uint32_t s = 0; s < shortCount; ++s) {
            const ZELID id = shortIDs[s];
            const uint32_t position = gallopLowerBound(longIDs, cursor, longCount, id);
            moveIDs(out + k, longIDs + cursor, position - cursor);
            k += position - cursor;
            out[k++] = id;
            cursor = position + (position < longCount && longIDs[position] == id);
        }
        moveIDs(out + k, longIDs + cursor, longCount - cursor);
        return k + (longCount - cursor);
    }
    while (i < aCount && j < bCount) {
        const ZELID x = a[i];
        const ZELID y = b[j];
        out[k++] = x < y ? x : y;
        i += x <= y;
        j += y <= x;
    }
    moveIDs(out + k, a + i, aCount - i);
    k += aCount - i;
    moveIDs(out + k, b + j, bCount - j);
    return k + (bCount - j);
}

}  // namespace

bool ZELIDArray_IsNormalized(const ZELID* ids, uint32_t count) {
    for (uint32_t index = 1; index < count; ++index) {
        if (ids[index] <= ids[index - 1]) return false;
    }
    return true;
}

uint32_t ZELIDArray_BinarySearch(const ZELID* ids, uint32_t count, ZELID key, bool* found) {
    const uint32_t index = lowerBound(ids, 0, count, key);
    if (found) *found = index < count && ids[index] == key;
    return index;
}

uint32_t ZELIDArray_BinarySearchInRange(const ZELID* ids, uint32_t start, uint32_t count, ZELID key,
                                        bool* found) {
    return start + ZELIDArray_BinarySearch(ids + start, count, key, found);
}

uint32_t ZELIDArray_Union(const ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount,
                          ZELID* out, uint32_t outCapacity) {
    if (uint64_t{aCount} + bCount <= outCapacity) return mergeUnion(a, aCount, b, bCount, out);
    // Limited output: the smallest outCapacity IDs of the union.
    uint32_t i = 0, j = 0, k = 0;
    while (k < outCapacity && i < aCount && j < bCount) {
        const ZELID x = a[i];
        const ZELID y = b[j];
        out[k++] = x < y ? x : y;
        i += x <= y;
        j += y <= x;
    }
    const uint32_t fromA = std::min(aCount - i, outCapacity - k);
    moveIDs(out + k, a + i, fromA);
    k += fromA;
    const uint32_t fromB = std::min(bCount - j, outCapacity - k);
    moveIDs(out + k, b + j, fromB);
    return k + fromB;
}

uint32_t ZELIDArray_UnionInPlace(ZELID** idsPointer, uint32_t* countPointer,
                                 uint32_t* capacityPointer, const ZELID* add, uint32_t addCount) {
    ZELID* ids = *idsPointer;
    const uint32_t count = *countPointer;
    if (addCount == 0) return count;

    // Appending past the last ID, the usual case (new items get ascending IDs), needs no search.
    const bool appending = count == 0 || add[0] > ids[count - 1];
    uint32_t position = count;
    if (addCount == 1 && !appending) {
        bool found = false;
        position = ZELIDArray_BinarySearch(ids, count, add[0], &found);
        if (found) return count;
    }

    const uint64_t need = uint64_t{count} + addCount;
    if (need > *capacityPointer) {
        if (need > UINT32_MAX) return count;
        const uint64_t minimum = need <= 16 ? 16 : 128;
        const uint64_t slots = std::min<uint64_t>(std::max(need + need / 8, minimum), UINT32_MAX);
        void* grown = std::realloc(ids, slots * sizeof(ZELID));
        if (!grown) return count;
        ids = static_cast<ZELID*>(grown);
        *idsPointer = ids;
        *capacityPointer = static_cast<uint32_t>(slots);
    }
    const uint32_t capacity = *capacityPointer;

    if (addCount == 1) {
        moveIDs(ids + position + 1, ids + position, count - position);
        ids[position] = add[0];
        *countPointer = count + 1;
        return count + 1;
    }

    // Move the tail that the new IDs interleave with to the very end of the allocation, then
    // merge it with `add` forward from `position`. The output never overtakes the unread tail
    // because capacity >= count + addCount, so no second buffer is needed.
    if (!appending) position = ZELIDArray_BinarySearch(ids, count, add[0], nullptr);
    const uint32_t tailCount = count - position;
    ZELID* tail = ids + (capacity - tailCount);
    moveIDs(tail, ids + position, tailCount);
    const uint32_t newCount = position + mergeUnion(tail, tailCount, add, addCount, ids + position);
    *countPointer = newCount;
    return newCount;
}

uint32_t ZELIDArray_Intersection(const ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount,
                                 ZELID* out, uint32_t outCapacity) {
    if (aCount == 0 || bCount == 0 || outCapacity == 0) return 0;
    uint32_t k = 0;
    if (shouldGallop(aCount, bCount) || shouldGallop(bCount, aCount)) {
        const bool aIsLong = aCount > bCount;
        const ZELID* longIDs = aIsLong ? a : b;
        const ZELID* shortIDs = aIsLong ? b : a;
        const uint32_t longCount = aIsLong ? aCount : bCount;
        const uint32_t shortCount = aIsLong ? bCount : aCount;
        uint32_t cursor = 0;
        for (uint32_t s = 0; s < shortCount; ++s) {
            cursor = gallopLowerBound(longIDs, cursor, longCount, shortIDs[s]);
            if (cursor == longCount) break;
            if (longIDs[cursor] == shortIDs[s]) {
                out[k++] = shortIDs[s];
                if (k == outCapacity) break;
                ++cursor;
            }
        }
        return k;
    }
    uint32_t i = 0, j = 0;
    while (i < aCount && j < bCount) {
        const ZELID x = a[i];
        const ZELID y = b[j];
        if (x == y) {
            out[k++] = x;
            if (k == outCapacity) break;
        }
        i += x <= y;
        j += y <= x;
    }
    return k;
}

uint32_t ZELIDArray_IntersectionInPlace(ZELID* a, uint32_t aCount, const ZELID* b,
                                        uint32_t bCount) {
    if (a == b) return aCount;
    if (aCount == 0 || bCount == 0) return 0;
    uint32_t kept = 0;
    if (shouldGallop(bCount, aCount)) {
        // Few IDs in b: find each in a.
        uint32_t cursor = 0;
        for (uint32_t j = 0; j < bCount; ++j) {
            cursor = gallopLowerBound(a, cursor, aCount, b[j]);
            if (cursor == aCount) break;
            if (a[cursor] == b[j]) a[kept++] = a[cursor++];
        }
        return kept;
    }
    if (shouldGallop(aCount, bCount)) {
        uint32_t cursor = 0;
        for (uint32_t i = 0; i < aCount; ++i) {
            cursor = gallopLowerBound(b, cursor, bCount, a[i]);
            if (cursor == bCount) break;
            if (b[cursor] == a[i]) {
                a[kept++] = a[i];
                ++cursor;
            }
        }
        return kept;
    }
    // kept <= i throughout, so writing a[kept] never touches an unread ID.
    uint32_t i = 0, j = 0;
    while (i < aCount && j < bCount) {
        const ZELID x = a[i];
        const ZELID y = b[j];
        a[kept] = x;
        kept += x == y;
        i += x <= y;
        j += y <= x;
    }
    return kept;
}

uint32_t ZELIDArray_DifferenceInPlace(ZELID* a, uint32_t aCount, const ZELID* b, uint32_t bCount) {
    if (aCount == 0 || bCount == 0) return aCount;
    uint32_t kept = 0;
    if (shouldGallop(bCount, aCount)) {
        // Few IDs to remove: find each, and move the runs between removed IDs down in blocks.
        // Nothing moves until the first ID is actually removed.
        uint32_t pending = 0;  // start of the run not yet moved down
        uint32_t cursor = 0;
        for (uint32_t j = 0; j < bCount; ++j) {
            cursor = gallopLowerBound(a, cursor, aCount, b[j]);
            if (cursor == aCount) break;
            if (a[cursor] == b[j]) {
                moveIDs(a + kept, a + pending, cursor - pending);
                kept += cursor - pending;
                pending = ++cursor;
            }
        }
        moveIDs(a + kept, a + pending, aCount - pending);
        return kept + (aCount - pending);
    }
    if (shouldGallop(aCount, bCount)) {
        uint32_t cursor = 0;
        for (uint32_t i = 0; i < aCount; ++i) {
            cursor = gallopLowerBound(b, cursor, bCount, a[i]);
            if (cursor < bCount && b[cursor] == a[i]) continue;
            a[kept++] = a[i];
        }
        return kept;
    }
    // kept <= i throughout, so writing a[kept] never touches an unread ID.
    uint32_t i = 0, j = 0;
    while (i < aCount && j < bCount) {
        const ZELID x = a[i];
        const ZELID y = b[j];
        a[kept] = x;
        kept += x < y;
        i += x <= y;
        j += y <= x;
    }
    moveIDs(a + kept, a + i, aCount - i);
    return kept + (aCount - i);
}

size_t ZELBinarySearch(const void* key, bool* found, const void* base, size_t count, size_t width,
                       ZELBinarySearchComparator compare) {
    const auto* elements = static_cast<const unsigned char*>(base);
    size_t low = 0;
    size_t high = count;  // the answer lies in [low, high]
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (compare(key, elements + middle * width) > 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (found) *found = low < count && compare(key, elements + low * width) == 0;
    return low;
}
