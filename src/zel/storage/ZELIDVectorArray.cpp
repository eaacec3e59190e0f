#include "zel/storage/ZELIDVectorArray.h"

#include <algorithm>
#include <array>
#include <vector>

#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"
#include "zel/stream/ZELStream.h"

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

// A vector read from disk to be changed is read straight into a mutable one, so that a large
// vector is not held twice while it is copied.
std::shared_ptr<ZELMutableIDVector> ZELIDVectorArray::mutableVectorAtIndexID(ZELID vectorID) {
    enterGatheredIDs();
    static const ZELStreamDeserializer readMutable =
        [](ZELStream& stream, uint64_t) -> std::shared_ptr<ZELStreamSerializable> {
        return stream.newReadZELMutableIDVector();
    };
    const bool wasCached = cachedObjectInPlace(vectorID) != nullptr;
    const auto vector =
        std::dynamic_pointer_cast<ZELIDVector>(objectAtIndexID(vectorID, true, true, readMutable));
    if (!vector) return nullptr;
    if (vector->isMutable()) {
        if (!wasCached) markObjectDirtyAtIndexID(vectorID);
        return std::static_pointer_cast<ZELMutableIDVector>(vector);
    }
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
        if (vectorIDs.isEmpty()) return;
        // The record goes in after what might pass the limit is entered, so that the notes
        // take the room reserved once (unless one record is larger).
        if (gatheredNotes_.byteCount() +
                ZELPostingNotes::maximumRecordByteCount(vectorIDs.count()) >
            gatheredByteLimit_) {
            ZELError error;
            if (!saveGatheredIDsAndGetError(&error)) {
                ZELLogFormat("data store compacting error: %s", error.description().c_str());
            }
        }
        if (gatheredNotes_.capacity() == 0) gatheredNotes_.reserve(gatheredByteLimit_);
        gatheredNotes_.note(memberID, vectorIDs);
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

void ZELIDVectorArray::setGatheringLimits(size_t noteByteLimit, uint64_t enteredByteBudget) {
    gatheredByteLimit_ = noteByteLimit;
    enteredByteBudget_ = enteredByteBudget;
}

void ZELIDVectorArray::enterGatheredIDs() { enterGatheredIDsAndGetError(false, nullptr); }

bool ZELIDVectorArray::saveGatheredIDsAndGetError(ZELError* outError) {
    return enterGatheredIDsAndGetError(true, outError);
}

uint64_t ZELIDVectorArray::addMembers(ZELID vectorID, ZELID* members, size_t count, bool toSave) {
    if (!std::is_sorted(members, members + count)) std::sort(members, members + count);
    count = static_cast<size_t>(std::unique(members, members + count) - members);
    const std::shared_ptr<ZELMutableIDVector> vector = mutableVectorAtIndexID(vectorID);
    if (!vector) return 0;
    const uint32_t countBefore = vector->count();
    vector->addIDs(members, static_cast<uint32_t>(count));
    if (vector->count() != countBefore) markObjectDirtyAtIndexID(vectorID);
    if (toSave) vector->releaseSpareCapacity();
    return vector->byteCountInActiveRAM();
}

// Each vector takes its noted members in one addIDs, in ascending vector ID, its members in the
// order they were noted (usually ascending: new items get ascending IDs). Many notes are counted
// per vector ID, then scattered into one array where each vector's members lie together, a run
// of vector IDs at a time holding at most an eighth of the note byte limit in members (1 MB by
// default; each run decodes the notes again, which is cheap beside rewriting the vectors). Few
// notes against a large vocabulary (a lookup after each add, as duplicate detection makes) are
// sorted instead, so that entering them costs no walk over every ID.
bool ZELIDVectorArray::enterGatheredIDsAndGetError(bool saving, ZELError* outError) {
    if (gatheredNotes_.isEmpty()) return true;
    ZELPostingNotes notes;
    notes.swap(gatheredNotes_);
    bool succeeded = true;
    uint64_t enteredBytes = 0;
    const auto save = [&] {
        enteredBytes = 0;
        if (!succeeded) return;
        succeeded = ensureSerializedAndGetError(outError);
        evictCachedObjectsPassing([](const Object&, ZELID, bool, bool&) { return true; });
    };
    const auto enter = [&](ZELID vectorID, ZELID* members, size_t count) {
        enteredBytes += addMembers(vectorID, members, count, saving);
        if (saving && enteredBytes >= enteredByteBudget_) save();
    };
    if (notes.pairCount() < notes.largestVectorID() / 16) {
        enterFewGatheredPairs(notes, enter);
    } else {
        enterManyGatheredPairs(notes, enter);
    }
    if (saving && enteredBytes > 0) save();
    // Entering notes nothing: the emptied notes go back, their room kept for the next ones.
    notes.clear();
    gatheredNotes_.swap(notes);
    return succeeded;
}

void ZELIDVectorArray::enterFewGatheredPairs(const ZELPostingNotes& notes,
                                             const EnterMembers& enter) {
    struct Pair {
        ZELID vectorID;
        ZELID memberID;
    };
    std::vector<Pair> pairs;
    pairs.reserve(notes.pairCount());
    notes.forEachRecord([&](ZELID memberID, ZELPostingNotes::VectorIDs& vectorIDs) {
        while (vectorIDs.remaining() > 0) pairs.push_back({vectorIDs.next(), memberID});
    });
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& a, const Pair& b) { return a.vectorID < b.vectorID; });
    std::vector<ZELID> members;
    for (size_t start = 0; start < pairs.size();) {
        size_t end = start;
        members.clear();
        for (; end < pairs.size() && pairs[end].vectorID == pairs[start].vectorID; ++end) {
            members.push_back(pairs[end].memberID);
        }
        enter(pairs[start].vectorID, members.data(), members.size());
        start = end;
    }
}

void ZELIDVectorArray::enterManyGatheredPairs(const ZELPostingNotes& notes,
                                              const EnterMembers& enter) {
    const ZELID largest = notes.largestVectorID();
    // counts[id] = the number of pairs of vector ID id.
    std::vector<uint32_t> counts(uint64_t{largest} + 1);
    notes.forEachRecord([&](ZELID, ZELPostingNotes::VectorIDs& vectorIDs) {
        while (vectorIDs.remaining() > 0) ++counts[vectorIDs.next()];
    });
    const size_t runPairLimit = std::max<size_t>(gatheredByteLimit_ / 8 / sizeof(ZELID), 1);
    std::vector<ZELID> members;
    members.reserve(std::min(runPairLimit, notes.pairCount()));
    std::vector<uint32_t> ends;
    for (uint64_t first = 1; first <= largest;) {
        // The run [first, last): at least one vector ID, at most runPairLimit pairs unless one
        // vector has more.
        uint64_t last = first;
        size_t pairCount = 0;
        do {
            pairCount += counts[last++];
        } while (last <= largest && pairCount + counts[last] <= runPairLimit);
        members.resize(pairCount);
        ends.assign(last - first, 0);
        for (uint64_t vectorID = first + 1; vectorID < last; ++vectorID) {
            ends[vectorID - first] = ends[vectorID - first - 1] + counts[vectorID - 1];
        }
        notes.forEachRecord([&](ZELID memberID, ZELPostingNotes::VectorIDs& vectorIDs) {
            while (vectorIDs.remaining() > 0) {
                const ZELID vectorID = vectorIDs.next();
                if (vectorID >= last) break;
                if (vectorID >= first) members[ends[vectorID - first]++] = memberID;
            }
        });
        size_t start = 0;
        for (uint64_t vectorID = first; vectorID < last; ++vectorID) {
            const size_t end = ends[vectorID - first];
            if (end == start) continue;
            enter(static_cast<ZELID>(vectorID), &members[start], end - start);
            start = end;
        }
        first = last;
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
    if (level == 2 || level == 3) {
        // Saved by the base compaction below; a failure shows there again.
        saveGatheredIDsAndGetError(nullptr);
    } else {
        enterGatheredIDs();
    }
    gatheredNotes_.release();
    ZELDiskDataStorage::compactMemory(level);
    if (level != 2 && level != 3) return;
    // Spare capacity worth giving back: any at level 3, 32 bytes or more at level 2. Only
    // mutable vectors hold any; they shrink in place, so the slots stay as they are.
    const uint64_t threshold = level == 3 ? 1 : 32;
    enumerateInMemoryObjectsUsing([&](const Object& object, ZELID, bool, bool&) {
        auto* vector = dynamic_cast<ZELMutableIDVector*>(object.get());
        if (!vector || !vector->isMutable()) return;
        const uint64_t unused = vector->memoryResidentUnusedByteCount();
        if (unused >= threshold || unused >= 2 * vector->byteCountInActiveRAM()) {
            vector->releaseSpareCapacity();
        }
    });
}

void ZELIDVectorArray::resetToEmpty() {
    gatheredNotes_.release();
    ZELDiskDataStorage::resetToEmpty();
}

void ZELIDVectorArray::invalidate() {
    gatheredNotes_.release();
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
