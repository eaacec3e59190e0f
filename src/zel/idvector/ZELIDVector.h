#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELTypes.h"
#include "zel/stream/ZELStreamSerializable.h"

class ZELMutableIDVector;
class ZELStream;

// Visitor of enumerateIDsUsingBlock: called with each ID in ascending order; setting `stop`
// ends the enumeration.
using ZELIDVisitor = ZELFunctionRef<void(ZELID id, bool& stop)>;
// Visitor of accessIDsBuffer: called once with a normalized array of `count` IDs.
using ZELIDBufferVisitor = ZELFunctionRef<void(const ZELID* ids, uint32_t count)>;

// The set type of the whole system: a strictly ascending set of ZELIDs with set algebra.
// ZELIDVector is the immutable abstract root of a class cluster (representations
// ZELIDVector_CArray, ZELIDVector_IndexSet, ZELIDVector_BitBlock and their mutable
// twins); every query on the root itself answers as for an empty set. Vectors are
// reference-counted (std::shared_ptr), created only through the static factories, and the
// factories of the abstract types pick the array representation. An immutable vector may be
// read from several threads at once; a mutable one belongs to one thread at a time. IDs held
// in vectors stay below 0x7FFFFFFF.
class ZELIDVector : public ZELStreamSerializable {
public:
    // Construction through ZELIDVector yields a ZELIDVector_CArray. Every factory answers
    // null when memory runs out.
    static std::shared_ptr<ZELIDVector> vector();
    static std::shared_ptr<ZELIDVector> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELIDVector> vectorWithID(ZELID id);
    // A copy of the normalized array `ids`.
    static std::shared_ptr<ZELIDVector> vectorWithIDs(const ZELID* ids, uint32_t count);
    // With `freeWhenDone` the vector takes over `ids`, a malloc'd normalized array (and frees
    // it when construction fails); otherwise the IDs are copied.
    static std::shared_ptr<ZELIDVector> newWithIDs(ZELID* ids, uint32_t count, bool freeWhenDone);
    // A mutable array-backed vector parsed from text: signed integers separated by any of
    // ".,; \n\t"; the first text that is not an integer ends the parse.
    static std::shared_ptr<ZELMutableIDVector> vectorWithIDsInString(std::string_view text);
    // 0 vectors: empty vector; 1: that vector; 2: their intersection; more: a mutable vector
    // started from the smallest operand.
    static std::shared_ptr<ZELIDVector> intersectionOfVectors(
        const std::vector<std::shared_ptr<ZELIDVector>>& vectors);
    // 0 vectors: empty vector; 1: that vector; 2: their union; more: an immutable
    // array-backed vector accumulated in a bit block.
    static std::shared_ptr<ZELIDVector> unionOfVectors(
        const std::vector<std::shared_ptr<ZELIDVector>>& vectors);

    // Immutable representations answer themselves or an immutable copy; null on the
    // abstract types and when memory runs out.
    virtual std::shared_ptr<ZELIDVector> copy() const;
    virtual std::shared_ptr<ZELMutableIDVector> mutableCopy() const;

    virtual uint32_t count() const;
    // First / last ID; 0 when empty.
    virtual ZELID smallestID() const;
    virtual ZELID largestID() const;
    virtual bool containsID(ZELID id) const;
    // Calls visitor(id, stop) in ascending order until it sets stop.
    virtual void enumerateIDsUsingBlock(ZELIDVisitor visitor) const;
    // Copies the first min(count, maxCount) IDs to `buffer`; answers how many.
    virtual uint32_t getIDs(ZELID* buffer, uint32_t maxCount) const;
    // The vector's own contiguous array (array-backed vectors only), else null. Null also for
    // an empty array-backed vector.
    virtual const ZELID* directIDs() const;
    virtual bool isMutable() const;
    // Object size plus storage.
    virtual uint64_t byteCountInActiveRAM() const;
    // Allocated but unused storage (spare slots of the mutable array form).
    virtual uint64_t memoryResidentUnusedByteCount() const;

    bool isEmpty() const { return count() == 0; }
    // count / largestID; 0.0 when empty (infinite for a vector holding only ID 0).
    float densityFactor() const;
    // A new malloc'd array of `count` IDs owned by the caller (one slot for an empty vector);
    // null when memory runs out.
    ZELID* newIDs() const;
    // Calls visitor(ids, count) once with a contiguous normalized array: the vector's own when
    // it has one, else a temporary copy released after the call; visitor(nullptr, 0) when the
    // copy cannot be allocated.
    void accessIDsBuffer(ZELIDBufferVisitor visitor) const;
    // Ascending enumeration; walks the array directly when the vector has one (no indirect
    // call per ID), else goes through enumerateIDsUsingBlock.
    template <typename Visitor>
    void enumerateIDs(Visitor&& visitor) const;

    // Every ID of `other` is in this vector.
    bool isSupersetForVector(const ZELIDVector& other) const;
    bool containsVector(const ZELIDVector& other) const { return isSupersetForVector(other); }
    bool isSubsetOfVector(const ZELIDVector& other) const {
        return other.isSupersetForVector(*this);
    }
    // At least one common ID.
    bool intersectsVector(const ZELIDVector& other) const;

    // This vector itself when `other` is empty, `other` itself when this is empty, else a new
    // immutable array-backed vector (the receiver when memory runs out).
    std::shared_ptr<ZELIDVector> vectorByUnion(const ZELIDVector& other) const;
    // An empty vector when either is empty, else a new immutable array-backed vector (empty
    // when memory runs out).
    std::shared_ptr<ZELIDVector> vectorByIntersection(const ZELIDVector& other) const;
    // Always a new mutable vector of this vector's representation; null when memory runs out.
    std::shared_ptr<ZELMutableIDVector> vectorBySubtracting(const ZELIDVector& other) const;

    // count + smallestID + largestID, summed in 64 bits; 0 when empty.
    uint64_t hash() const;
    // Same count and the same ID sequence, whatever the representations.
    bool isEqual(const ZELIDVector& other) const;
    friend bool operator==(const ZELIDVector& a, const ZELIDVector& b) { return a.isEqual(b); }

    // "ClassName<0x...> with N IDs={1, 2, 3, }, density=0.5000"; from 15 IDs on, the first 14
    // are followed by "... " and the largest ID.
    std::string description() const override;

    // The stored form of an ID vector, through the stream's ID vector operations; the length
    // argument of newDeserializedFromStream is ignored.
    uint64_t serializedByteCount() const override;
    bool serializeToStream(ZELStream& stream) const override;
    static std::shared_ptr<ZELIDVector> newDeserializedFromStream(ZELStream& stream,
                                                                  uint64_t length);

protected:
    // Vectors are created through the factories of their classes.
    ZELIDVector() = default;
    ZELIDVector(const ZELIDVector&) = delete;
    ZELIDVector& operator=(const ZELIDVector&) = delete;

    // This object as a shared vector (an immutable receiver answered as a result).
    std::shared_ptr<ZELIDVector> sharedVector() const;
};

template <typename Visitor>
void ZELIDVector::enumerateIDs(Visitor&& visitor) const {
    if (const ZELID* ids = directIDs()) {
        bool stop = false;
        for (uint32_t index = 0, total = count(); index < total && !stop; ++index) {
            visitor(ids[index], stop);
        }
    } else {
        enumerateIDsUsingBlock(visitor);
    }
}
