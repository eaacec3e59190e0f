#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/storage/ZELPostingNotes.h"

// An ID -> ID vector table: the database keeps two, "aspectBitIDVectors" (item ID -> the aspect
// bit IDs of the item) and "itemIDVectors" (aspect bit ID -> the items that carry it). Vectors
// are stored as immutable array vectors; a vector being changed is swapped in its slot for a
// mutable copy once and then changed in place, and only vectors whose content changed are
// saved again. Owned by the database; used under the database lock from one thread at a time.
//
// With gathering on (the term -> items table), addID only notes its (vector, member) pairs; they
// are entered, vector by vector in ascending vector ID, before anything reads or changes a vector
// of the table, before it compacts or saves, and whenever enough are noted (a reset drops them
// with the vectors). Invariant: every answer and every save equals what adding each ID at once
// would give; only the work is batched.
//
// Entering loads each vector whole to add to it, and a changed vector stays in memory until it is
// saved. Where the pairs are entered to be saved (when enough are noted, compacting, saving), the
// store is therefore saved, and its vectors let go of, whenever the vectors entered since the last
// save hold a budget of bytes: a long run of adds holds the noted pairs and at most that many
// bytes of vectors, however large the table grows.
class ZELIDVectorArray final : public ZELDiskDataStorage {
public:
    static std::shared_ptr<ZELIDVectorArray> storageWithBaseNameURL(
        std::filesystem::path baseNameURL);

    // Stores ZELIDVector_CArray vectors. Not loaded yet.
    explicit ZELIDVectorArray(std::filesystem::path baseNameURL);

    // The vector, loaded and cached; null for an ID without one or when the read fails (the
    // error goes to the delegate).
    std::shared_ptr<ZELIDVector> vectorAtIndexID(ZELID vectorID);
    // The vector to change in place. A vector not in memory is read as a mutable one; a cached
    // immutable one is replaced in its slot by a mutable copy; either way the slot is marked
    // dirty. Null (nothing changed) for an ID without a vector.
    std::shared_ptr<ZELMutableIDVector> mutableVectorAtIndexID(ZELID vectorID);
    // Stores `vector` at `vectorID`; nothing happens when the ID is 0 or already holds one.
    void appendVector(std::shared_ptr<ZELIDVector> vector, ZELID vectorID);
    // Adds `memberID` to the vector of every ID in `vectorIDs` (ascending); a slot is marked
    // dirty only when its vector changed (or had to be made mutable). IDs without a vector are
    // skipped.
    void addID(ZELID memberID, const ZELIDVector& vectorIDs);
    // The same with removal.
    void removeID(ZELID memberID, const ZELIDVector& vectorIDs);
    // Whether addID gathers its pairs (off by default). Turning it off enters what was noted.
    void setGathersAddedIDs(bool gathers);
    // Enters the noted pairs. Callers that reach the stored objects through the base class
    // (walks) call it first; this class's own lookups do it themselves.
    void enterGatheredIDs();
    // Enters the noted pairs as above, saving the store and letting go of its clean vectors
    // whenever those entered since the last save hold the entered byte budget, and once at the
    // end when any were entered. After a failed save the rest is entered without saving (the
    // changed vectors stay in memory) and the first error is answered.
    bool saveGatheredIDsAndGetError(ZELError* outError);
    // The bytes of notes at which addID enters (and saves) what was noted, and the bytes of
    // entered vectors in memory after which a saving enter saves; by default 8 MB (some four
    // million pairs) and 2 MB.
    void setGatheringLimits(size_t noteByteLimit, uint64_t enteredByteBudget);

    // The intersection / union of the stored vectors at `vectorIDs`, each loaded and cached:
    // empty for no key, the stored vector itself for one key. A key without a vector counts as
    // an empty vector (so it empties an intersection).
    std::shared_ptr<ZELIDVector> intersectionOfVectorsAtIndexIDs(const ZELIDVector& vectorIDs);
    std::shared_ptr<ZELIDVector> unionOfVectorsAtIndexIDs(const ZELIDVector& vectorIDs);

    using ZELDiskDataStorage::compactMemory;
    // Base compaction; at levels 2 and 3 the vectors still cached then give up their spare
    // capacity (32 bytes or more at level 2, any at level 3) without being marked dirty.
    void compactMemory(int level) override;
    void resetToEmpty() override;
    void invalidate() override;

    // "ZELIDVectorArray<0x...>, holding N ID vectors, <metrics summary>".
    std::string description() const override;
    // One line per vector size bucket, "<low>-<high> IDs: <n> vectors \n", for the buckets
    // 0, 1, 2-5, 6-10, 11-20 and 21-99999 (larger vectors count in the last). Loads every
    // vector without caching it.
    std::string descriptionForVectors();

private:
    // The stored vectors at the keys, ascending, loaded and cached; a key without one gives an
    // empty vector.
    std::vector<std::shared_ptr<ZELIDVector>> vectorsAtIndexIDs(const ZELIDVector& vectorIDs);
    // Enters the noted pairs; with `saving`, as saveGatheredIDsAndGetError.
    bool enterGatheredIDsAndGetError(bool saving, ZELError* outError);
    // Gives `enter` each vector's noted members, in ascending vector ID: by sorting the pairs,
    // or by counting them per vector ID.
    using EnterMembers = ZELFunctionRef<void(ZELID vectorID, ZELID* members, size_t count)>;
    static void enterFewGatheredPairs(const ZELPostingNotes& notes, const EnterMembers& enter);
    void enterManyGatheredPairs(const ZELPostingNotes& notes, const EnterMembers& enter);
    // Adds `count` members (in any order, repeats allowed) to the vector at `vectorID`, marking
    // its slot dirty when it changed; answers the bytes the vector then holds in memory (0
    // without one). With `toSave` (it is saved and let go of before anything more is added to
    // it) the vector gives back the room an add leaves for the next.
    uint64_t addMembers(ZELID vectorID, ZELID* members, size_t count, bool toSave);

    bool gathersAddedIDs_ = false;
    size_t gatheredByteLimit_ = size_t{8} << 20;
    uint64_t enteredByteBudget_ = uint64_t{2} << 20;
    // Noted by addID, one record per call in the order of the calls. Its room, the byte limit,
    // is kept from one entering to the next and given back when the table compacts.
    ZELPostingNotes gatheredNotes_;
};
