#include "zel/storage/ZELIDVectorArray.h"

#include <algorithm>
#include <array>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

std::shared_ptr<ZELIDVectorArray> ZELIDVectorArray::storageWithBaseNameURL(
    std::filesystem::path baseNameURL) {
    return std::make_shared<ZELIDVectorArray>(std::move(baseNameURL));
}

// Vectors read back as the default immutable array representation.
ZELIDVectorArray::ZELIDVectorArray(std::filesystem::path baseNameURL)
    : ZELDiskDataStorage(std::move(baseNameURL)) {
    setSerializableObjectClass(
        [](ZELStream& stream, uint64_t length) -> std::shared_ptr<ZELStreamSerializable> {
            return ZELIDVector::newDeserializedFromStream(stream, length);
        });
    didFinishInit();
}

std::shared_ptr<ZELIDVector> ZELIDVectorArray::vectorAtIndexID(ZELID vectorID) {
    enterGatheredIDs();
    return std::dynamic_pointer_cast<ZELIDVector>(objectAtIndexID(vectorID, true, true));
}

std::shared_ptr<ZELMutableIDVector> ZELIDVectorArray::mutableVectorAtIndexID(ZELID vectorID) {
    const std::shared_ptr<ZELIDVector> vector = vectorAtIndexID(vectorID);
    if (!vector) return nullptr;
    if (vector->isMutable()) return std::static_pointer_cast<ZELMutableIDVector>(vector);
    std::shared_ptr<ZELMutableIDVector> mutableVector = vector->mutableCopy();
    if (!mutableVector) return nullptr;  // out of memory: the slot keeps its vector
    setObject(mutableVector, vectorID, true);
    return mutableVector;
}

void ZELIDVectorArray::appendVector(std::shared_ptr<ZELIDVector> vector, ZELID vectorID) {
    assignUniqueIndexID(vectorID, std::move(vector));
}

void ZELIDVectorArray::addID(ZELID memberID, const ZELIDVector& vectorIDs) {
    if (gathersAddedIDs_) {
        vectorIDs.enumerateIDs([&](ZELID vectorID, bool&) {
            gatheredPairs_.push_back(uint64_t{vectorID} << 32 | memberID);
        });
        if (gatheredPairs_.size() >= kGatheredPairLimit) enterGatheredIDs();
        return;
    }
    vectorIDs.enumerateIDs([&](ZELID vectorID, bool&) {
        const std::shared_ptr<ZELMutableIDVector> vector = mutableVectorAtIndexID(vectorID);
        if (!vector) return;
        const uint32_t countBefore = vector->count();
        vector->addID(memberID);
        if (vector->count() != countBefore) markObjectDirtyAtIndexID(vectorID);
    });
}

void ZELIDVectorArray::setGathersAddedIDs(bool gathers) {
    if (!gathers) enterGatheredIDs();
    gathersAddedIDs_ = gathers;
}

namespace {

// Orders the pairs by their vector ID (the high half), keeping the added order within each
// vector: a least significant digit first radix sort over the vector ID's bytes, stable.
void sortPairsByVectorID(std::vector<uint64_t>& pairs) {
    uint64_t largest = 0;
    for (const uint64_t pair : pairs) largest = std::max(largest, pair >> 32);
    std::vector<uint64_t> sorted(pairs.size());
    for (unsigned shift = 32; shift < 64 && (largest >> (shift - 32)) != 0; shift += 8) {
        std::array<size_t, 257> starts{};
        for (const uint64_t pair : pairs) ++starts[((pair >> shift) & 0xFF) + 1];
        for (size_t digit = 1; digit < starts.size(); ++digit) starts[digit] += starts[digit - 1];
        for (const uint64_t pair : pairs) sorted[starts[(pair >> shift) & 0xFF]++] = pair;
        pairs.swap(sorted);
    }
}

}  // namespace

// Each vector takes its members in one addIDs: they are usually ascending already (new items
// get ascending IDs); otherwise they are sorted first. A slot is marked dirty as addID would.
void ZELIDVectorArray::enterGatheredIDs() {
    if (gatheredPairs_.empty()) return;
    std::vector<uint64_t> pairs;
    pairs.swap(gatheredPairs_);
    sortPairsByVectorID(pairs);
    std::vector<ZELID> members;
    for (size_t start = 0; start < pairs.size();) {
        const ZELID vectorID = static_cast<ZELID>(pairs[start] >> 32);
        size_t end = start;
        members.clear();
        for (; end < pairs.size() && static_cast<ZELID>(pairs[end] >> 32) == vectorID; ++end) {
            members.push_back(static_cast<ZELID>(pairs[end]));
        }
        start = end;
        if (!std::is_sorted(members.begin(), members.end())) {
            std::sort(members.begin(), members.end());
        }
        members.erase(std::unique(members.begin(), members.end()), members.end());
        const std::shared_ptr<ZELMutableIDVector> vector = mutableVectorAtIndexID(vectorID);
        if (!vector) continue;
        const uint32_t countBefore = vector->count();
        vector->addIDs(members.data(), static_cast<uint32_t>(members.size()));
        if (vector->count() != countBefore) markObjectDirtyAtIndexID(vectorID);
    }
}

void ZELIDVectorArray::removeID(ZELID memberID, const ZELIDVector& vectorIDs) {
    enterGatheredIDs();
    vectorIDs.enumerateIDs([&](ZELID vectorID, bool&) {
        const std::shared_ptr<ZELMutableIDVector> vector = mutableVectorAtIndexID(vectorID);
        if (!vector) return;
        const uint32_t countBefore = vector->count();
        vector->removeID(memberID);
        if (vector->count() != countBefore) markObjectDirtyAtIndexID(vectorID);
    });
}

std::vector<std::shared_ptr<ZELIDVector>> ZELIDVectorArray::vectorsAtIndexIDs(
    const ZELIDVector& vectorIDs) {
    enterGatheredIDs();
    std::vector<std::shared_ptr<ZELIDVector>> vectors;
    vectors.reserve(vectorIDs.count());
    vectorIDs.enumerateIDs([&](ZELID vectorID, bool&) {
        std::shared_ptr<ZELIDVector> vector = vectorAtIndexID(vectorID);
        vectors.push_back(vector ? std::move(vector) : ZELIDVector::vector());
    });
    return vectors;
}

// 0 keys: empty; 1: the stored vector; 2: the smaller key's vector with the larger's; more:
// the family's many-vector operations over the vectors in ascending key order.
std::shared_ptr<ZELIDVector> ZELIDVectorArray::intersectionOfVectorsAtIndexIDs(
    const ZELIDVector& vectorIDs) {
    const std::vector<std::shared_ptr<ZELIDVector>> vectors = vectorsAtIndexIDs(vectorIDs);
    if (vectors.size() == 2) return vectors[0]->vectorByIntersection(*vectors[1]);
    return ZELIDVector::intersectionOfVectors(vectors);
}

std::shared_ptr<ZELIDVector> ZELIDVectorArray::unionOfVectorsAtIndexIDs(
    const ZELIDVector& vectorIDs) {
    const std::vector<std::shared_ptr<ZELIDVector>> vectors = vectorsAtIndexIDs(vectorIDs);
    if (vectors.size() == 2) return vectors[0]->vectorByUnion(*vectors[1]);
    return ZELIDVector::unionOfVectors(vectors);
}

void ZELIDVectorArray::compactMemory(int level) {
    enterGatheredIDs();
    ZELDiskDataStorage::compactMemory(level);
    if (level != 2 && level != 3) return;
    // Spare capacity worth giving back: any at level 3, 32 bytes or more at level 2.
    const uint64_t threshold = level == 3 ? 1 : 32;
    std::vector<ZELID> wasteful;
    enumerateInMemoryObjectsUsing([&](const Object& object, ZELID vectorID, bool, bool&) {
        const auto* vector = dynamic_cast<const ZELIDVector*>(object.get());
        if (!vector) return;
        const uint64_t unused = vector->memoryResidentUnusedByteCount();
        if (unused >= threshold || unused >= 2 * vector->byteCountInActiveRAM()) {
            wasteful.push_back(vectorID);
        }
    });
    // Slots are replaced after the walk, which hands out references into the slot table. The
    // copies hold the same IDs, so the slots' dirty marks stay as they are.
    for (const ZELID vectorID : wasteful) {
        const auto vector =
            std::dynamic_pointer_cast<ZELIDVector>(objectAtIndexID(vectorID, false, false));
        if (!vector) continue;
        std::shared_ptr<ZELIDVector> trimmed;
        if (vector->isMutable()) {
            trimmed = vector->mutableCopy();
        } else {
            trimmed = vector->copy();
        }
        if (trimmed) setObject(std::move(trimmed), vectorID, false);
    }
}

void ZELIDVectorArray::resetToEmpty() {
    gatheredPairs_.clear();
    ZELDiskDataStorage::resetToEmpty();
}

void ZELIDVectorArray::invalidate() {
    gatheredPairs_.clear();
    ZELDiskDataStorage::invalidate();
}

std::string ZELIDVectorArray::description() const {
    return ZELStringWithFormat("%s, holding %ld ID vectors, %s", descriptionHead().c_str(),
                               static_cast<long>(livingObjectCount()),
                               ZELMemoryMetricsGatherer::descriptionForObject(*this).c_str());
}

std::string ZELIDVectorArray::descriptionForVectors() {
    enterGatheredIDs();
    static constexpr std::array<uint64_t, 6> kUpperBounds = {0, 1, 5, 10, 20, 99999};
    std::array<uint64_t, kUpperBounds.size()> vectorCounts{};
    const ZELID largest = largestAssignedObjectIndexID();
    for (ZELID vectorID = 1; vectorID != 0 && vectorID <= largest; ++vectorID) {
        const auto vector =
            std::dynamic_pointer_cast<ZELIDVector>(objectAtIndexID(vectorID, true, false));
        if (!vector) continue;
        size_t bucket = 0;
        while (bucket + 1 < kUpperBounds.size() && vector->count() > kUpperBounds[bucket]) {
            ++bucket;
        }
        ++vectorCounts[bucket];
    }
    std::string text;
    uint64_t lowerBound = 0;
    for (size_t bucket = 0; bucket < kUpperBounds.size(); ++bucket) {
        text += ZELStringWithFormat("%lu-%lu IDs: %lu vectors \n",
                                    static_cast<unsigned long>(lowerBound),
                                    static_cast<unsigned long>(kUpperBounds[bucket]),
                                    static_cast<unsigned long>(vectorCounts[bucket]));
        lowerBound = kUpperBounds[bucket] + 1;
    }
    return text;
}
