#include "zel/idvector/ZELIDVector.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "zel/idvector/ZELIDArray.h"
#include "zel/idvector/ZELIDVector_BitBlock.h"
#include "zel/idvector/ZELIDVector_CArray.h"
#include "zel/platform/ZELString.h"

namespace {

struct FreeDeleter {
    void operator()(ZELID* ids) const { std::free(ids); }
};
using OwnedIDs = std::unique_ptr<ZELID, FreeDeleter>;

// The description lists this many IDs before abbreviating with the largest one.
constexpr uint32_t kDescribedIDCount = 14;

// Separators skipped between the integers of vectorWithIDsInString.
constexpr std::string_view kSkippedCharacters = ".,; \n\t";

// Many-way unions accumulate in a bit block unless the block would be much larger than the
// operands themselves (a few IDs spread over a wide range), where merging pairwise costs less
// memory and time.
constexpr uint64_t kBitBlockBytesPerOperandID = 8;

// Unions a list of vectors by merging their arrays pairwise, like the levels of a merge sort:
// every ID is copied about log2(list size) times. Answers null when memory runs out.
std::shared_ptr<ZELIDVector> unionByPairwiseMerging(
    const std::vector<std::shared_ptr<ZELIDVector>>& vectors) {
    struct Run {
        const ZELID* ids;
        uint32_t count;
        OwnedIDs owned;  // null when `ids` is an operand's own array
    };
    std::vector<Run> level;
    level.reserve(vectors.size());
    for (const auto& operand : vectors) {
        if (operand->isEmpty()) continue;
        if (const ZELID* direct = operand->directIDs()) {
            level.push_back({direct, operand->count(), nullptr});
            continue;
        }
        OwnedIDs copied(operand->newIDs());
        if (!copied) return nullptr;
        const ZELID* ids = copied.get();
        level.push_back({ids, operand->count(), std::move(copied)});
    }
    while (level.size() > 1) {
        std::vector<Run> next;
        next.reserve((level.size() + 1) / 2);
        for (size_t index = 0; index + 1 < level.size(); index += 2) {
            const Run& a = level[index];
            const Run& b = level[index + 1];
            const uint64_t slots = uint64_t{a.count} + b.count;
            if (slots > UINT32_MAX) return nullptr;
            OwnedIDs merged(static_cast<ZELID*>(std::malloc(slots * sizeof(ZELID))));
            if (!merged) return nullptr;
            const uint32_t mergedCount = ZELIDArray_Union(
                a.ids, a.count, b.ids, b.count, merged.get(), static_cast<uint32_t>(slots));
            const ZELID* ids = merged.get();
            next.push_back({ids, mergedCount, std::move(merged)});
        }
        if (level.size() % 2 != 0) next.push_back(std::move(level.back()));
        level = std::move(next);
    }
    if (level.empty()) return ZELIDVector::vector();
    Run& last = level.front();
    if (!last.owned) return ZELIDVector::vectorWithIDs(last.ids, last.count);
    return ZELIDVector::newWithIDs(last.owned.release(), last.count, true);
}

}  // namespace

// Factories: through ZELIDVector, the immutable array representation.

std::shared_ptr<ZELIDVector> ZELIDVector::vector() {
    return ZELIDVector_CArray::vector();
}

std::shared_ptr<ZELIDVector> ZELIDVector::vectorWithCapacity(uint32_t capacity) {
    return ZELIDVector_CArray::vectorWithCapacity(capacity);
}

std::shared_ptr<ZELIDVector> ZELIDVector::vectorWithID(ZELID id) {
    return ZELIDVector_CArray::vectorWithID(id);
}

std::shared_ptr<ZELIDVector> ZELIDVector::vectorWithIDs(const ZELID* ids, uint32_t count) {
    return ZELIDVector_CArray::vectorWithIDs(ids, count);
}

std::shared_ptr<ZELIDVector> ZELIDVector::newWithIDs(ZELID* ids, uint32_t count,
                                                     bool freeWhenDone) {
    return ZELIDVector_CArray::newWithIDs(ids, count, freeWhenDone);
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector::vectorWithIDsInString(std::string_view text) {
    const auto capacity = static_cast<uint32_t>(std::min<size_t>(text.size() / 5, UINT32_MAX));
    std::shared_ptr<ZELMutableIDVector> result = ZELMutableIDVector::vectorWithCapacity(capacity);
    if (!result) return nullptr;
    const char* cursor = text.data();
    const char* const end = text.data() + text.size();
    while (true) {
        while (cursor < end && kSkippedCharacters.find(*cursor) != std::string_view::npos) {
            ++cursor;
        }
        // A signed decimal integer; one beyond 64 bits saturates, as the platform's scanner
        // does, before truncation to 32 bits.
        const char* digits = cursor;
        const bool negative = digits < end && *digits == '-';
        if (digits < end && (*digits == '-' || *digits == '+')) ++digits;
        if (digits == end || !std::isdigit(static_cast<unsigned char>(*digits))) break;
        uint64_t magnitude = 0;
        const auto [next, status] = std::from_chars(digits, end, magnitude);
        int64_t value = 0;
        if (status == std::errc::result_out_of_range ||
            magnitude > uint64_t{std::numeric_limits<int64_t>::max()}) {
            value = negative ? std::numeric_limits<int64_t>::min()
                             : std::numeric_limits<int64_t>::max();
        } else {
            value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        }
        // from_chars stops at the first non-digit even when out of range.
        cursor = next;
        result->addID(static_cast<ZELID>(static_cast<uint64_t>(value)));
    }
    return result;
}

std::shared_ptr<ZELIDVector> ZELIDVector::intersectionOfVectors(
    const std::vector<std::shared_ptr<ZELIDVector>>& vectors) {
    if (vectors.empty()) return vector();
    if (vectors.size() == 1) return vectors.front();
    if (vectors.size() == 2) return vectors[0]->vectorByIntersection(*vectors[1]);

    // Start from the smallest operand (the first of equals) and stop on the first empty result.
    const ZELIDVector* smallest = vectors.front().get();
    for (const auto& candidate : vectors) {
        if (candidate->count() < smallest->count()) smallest = candidate.get();
    }
    std::shared_ptr<ZELMutableIDVector> result = smallest->mutableCopy();
    if (!result) return nullptr;
    for (const auto& operand : vectors) {
        if (result->isEmpty()) break;
        if (operand.get() == smallest) continue;
        result->intersectWithVector(*operand);
    }
    return result;
}

std::shared_ptr<ZELIDVector> ZELIDVector::unionOfVectors(
    const std::vector<std::shared_ptr<ZELIDVector>>& vectors) {
    if (vectors.empty()) return vector();
    if (vectors.size() == 1) return vectors.front();
    if (vectors.size() == 2) return vectors[0]->vectorByUnion(*vectors[1]);

    uint64_t totalCount = 0;
    ZELID largest = 0;
    for (const auto& operand : vectors) {
        totalCount += operand->count();
        largest = std::max(largest, operand->largestID());
    }
    if (uint64_t{largest} / 8 > totalCount * kBitBlockBytesPerOperandID) {
        return unionByPairwiseMerging(vectors);
    }
    std::shared_ptr<ZELIDVector_BitBlock> accumulator =
        ZELIDVector_BitBlock::vectorWithCapacity(100);
    if (!accumulator) return nullptr;
    for (const auto& operand : vectors) accumulator->unionWithVector(*operand);
    return accumulator->copy();
}

// The root answers as for an empty set.

std::shared_ptr<ZELIDVector> ZELIDVector::copy() const {
    return nullptr;
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector::mutableCopy() const {
    return nullptr;
}

uint32_t ZELIDVector::count() const {
    return 0;
}

ZELID ZELIDVector::smallestID() const {
    return 0;
}

ZELID ZELIDVector::largestID() const {
    return 0;
}

bool ZELIDVector::containsID(ZELID) const {
    return false;
}

void ZELIDVector::enumerateIDsUsingBlock(ZELIDVisitor) const {}

uint32_t ZELIDVector::getIDs(ZELID* buffer, uint32_t maxCount) const {
    uint32_t written = 0;
    if (maxCount == 0) return 0;
    enumerateIDsUsingBlock([&](ZELID id, bool& stop) {
        buffer[written++] = id;
        stop = written == maxCount;
    });
    return written;
}

const ZELID* ZELIDVector::directIDs() const {
    return nullptr;
}

bool ZELIDVector::isMutable() const {
    return false;
}

uint64_t ZELIDVector::byteCountInActiveRAM() const {
    return sizeof(ZELIDVector);
}

uint64_t ZELIDVector::memoryResidentUnusedByteCount() const {
    return 0;
}

// Written once in terms of the operations above.

float ZELIDVector::densityFactor() const {
    const uint32_t total = count();
    if (total == 0) return 0.0f;
    const ZELID largest = largestID();
    if (largest == 0) return std::numeric_limits<float>::infinity();
    return static_cast<float>(total) / static_cast<float>(largest);
}

ZELID* ZELIDVector::newIDs() const {
    const uint32_t total = count();
    auto* ids = static_cast<ZELID*>(std::malloc(std::max<size_t>(total, 1) * sizeof(ZELID)));
    if (ids) getIDs(ids, total);
    return ids;
}

void ZELIDVector::accessIDsBuffer(ZELIDBufferVisitor visitor) const {
    const ZELID* direct = directIDs();
    const uint32_t total = count();
    if (direct || total == 0) {
        visitor(direct, total);
        return;
    }
    // Released even when the visitor raises (a mutation of an immutable vector).
    OwnedIDs temporary(newIDs());
    if (!temporary) {
        visitor(nullptr, 0);
        return;
    }
    visitor(temporary.get(), total);
}

bool ZELIDVector::isSupersetForVector(const ZELIDVector& other) const {
    const uint32_t otherCount = other.count();
    if (otherCount == 0) return true;
    const uint32_t myCount = count();
    if (otherCount > myCount) return false;
    const ZELID* mine = directIDs();
    const ZELID* theirs = other.directIDs();
    if (mine && theirs) {
        if (uint64_t{otherCount} * 16 >= myCount) {
            // Similar sizes: one linear walk.
            uint32_t i = 0;
            for (uint32_t j = 0; j < otherCount; ++j) {
                while (i < myCount && mine[i] < theirs[j]) ++i;
                if (i == myCount || mine[i] != theirs[j]) return false;
                ++i;
            }
            return true;
        }
        uint32_t start = 0;
        for (uint32_t j = 0; j < otherCount; ++j) {
            bool found = false;
            start = ZELIDArray_BinarySearchInRange(mine, start, myCount - start, theirs[j], &found);
            if (!found) return false;
            ++start;
        }
        return true;
    }
    bool superset = true;
    other.enumerateIDs([&](ZELID id, bool& stop) {
        if (!containsID(id)) {
            superset = false;
            stop = true;
        }
    });
    return superset;
}

bool ZELIDVector::intersectsVector(const ZELIDVector& other) const {
    const uint32_t myCount = count();
    const uint32_t otherCount = other.count();
    if (myCount == 0 || otherCount == 0) return false;
    const ZELID* mine = directIDs();
    const ZELID* theirs = other.directIDs();
    if (mine && theirs) {
        ZELID common = 0;
        return ZELIDArray_Intersection(mine, myCount, theirs, otherCount, &common, 1) != 0;
    }
    // Walk the smaller one, looking its IDs up in the other.
    const ZELIDVector& walked = myCount <= otherCount ? *this : other;
    const ZELIDVector& searched = myCount <= otherCount ? other : *this;
    bool intersects = false;
    walked.enumerateIDs([&](ZELID id, bool& stop) {
        if (searched.containsID(id)) {
            intersects = true;
            stop = true;
        }
    });
    return intersects;
}

std::shared_ptr<ZELIDVector> ZELIDVector::vectorByUnion(const ZELIDVector& other) const {
    if (other.isEmpty()) return sharedVector();
    if (isEmpty()) return other.sharedVector();
    const uint64_t slots = uint64_t{count()} + other.count();
    if (slots > UINT32_MAX) return sharedVector();
    auto* merged = static_cast<ZELID*>(std::malloc(slots * sizeof(ZELID)));
    if (!merged) return sharedVector();
    uint32_t mergedCount = 0;
    accessIDsBuffer([&](const ZELID* mine, uint32_t myCount) {
        other.accessIDsBuffer([&](const ZELID* theirs, uint32_t otherCount) {
            if (!mine || !theirs) return;
            mergedCount = ZELIDArray_Union(mine, myCount, theirs, otherCount, merged,
                                           static_cast<uint32_t>(slots));
        });
    });
    if (mergedCount == 0) {
        std::free(merged);
        return sharedVector();
    }
    std::shared_ptr<ZELIDVector> result = ZELIDVector_CArray::newWithIDs(merged, mergedCount, true);
    return result ? result : sharedVector();
}

std::shared_ptr<ZELIDVector> ZELIDVector::vectorByIntersection(const ZELIDVector& other) const {
    if (isEmpty() || other.isEmpty()) return vector();
    // The intersection is never longer than the shorter operand.
    const uint32_t slots = std::min(count(), other.count());
    auto* common = static_cast<ZELID*>(std::malloc(size_t{slots} * sizeof(ZELID)));
    if (!common) return vector();
    uint32_t commonCount = 0;
    accessIDsBuffer([&](const ZELID* mine, uint32_t myCount) {
        other.accessIDsBuffer([&](const ZELID* theirs, uint32_t otherCount) {
            commonCount = ZELIDArray_Intersection(mine, myCount, theirs, otherCount, common, slots);
        });
    });
    std::shared_ptr<ZELIDVector> result = ZELIDVector_CArray::newWithIDs(common, commonCount, true);
    return result ? result : vector();
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector::vectorBySubtracting(
    const ZELIDVector& other) const {
    std::shared_ptr<ZELMutableIDVector> result = mutableCopy();
    if (result) result->subtractVector(other);
    return result;
}

uint64_t ZELIDVector::hash() const {
    if (isEmpty()) return 0;
    return uint64_t{count()} + smallestID() + largestID();
}

bool ZELIDVector::isEqual(const ZELIDVector& other) const {
    if (&other == this) return true;
    const uint32_t total = count();
    if (other.count() != total) return false;
    if (total == 0) return true;
    const ZELID* mine = directIDs();
    const ZELID* theirs = other.directIDs();
    if (mine && theirs) return std::memcmp(mine, theirs, size_t{total} * sizeof(ZELID)) == 0;
    // Equal counts: equal exactly when one holds all IDs of the other. Ask the vector without
    // an array, whose lookups are cheaper than a binary search.
    return mine ? other.isSupersetForVector(*this) : isSupersetForVector(other);
}

std::string ZELIDVector::description() const {
    const uint32_t total = count();
    std::string text = ZELStringWithFormat("%s with %u IDs={", descriptionHead().c_str(), total);
    uint32_t listed = 0;
    enumerateIDs([&](ZELID id, bool& stop) {
        text += ZELStringWithFormat("%u, ", id);
        stop = ++listed == kDescribedIDCount;
    });
    if (total > kDescribedIDCount) text += ZELStringWithFormat("... %u", largestID());
    text += ZELStringWithFormat("}, density=%.4f", static_cast<double>(densityFactor()));
    return text;
}

std::shared_ptr<ZELIDVector> ZELIDVector::sharedVector() const {
    return std::const_pointer_cast<ZELIDVector>(sharedFromThisAs<const ZELIDVector>());
}
