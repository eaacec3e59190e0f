#pragma once

#include "zel/idvector/ZELIDVector.h"

// Abstract type of ID vectors that answer the mutating operations. Every concrete vector
// derives from it, immutable ones included: on an immutable vector each mutating operation
// raises "ZELImmutableVectorException" and leaves the vector unchanged. Construction through
// ZELMutableIDVector yields a ZELMutableIDVector_CArray. A mutable vector belongs to one
// thread at a time.
class ZELMutableIDVector : public ZELIDVector {
public:
    static std::shared_ptr<ZELMutableIDVector> vector();
    static std::shared_ptr<ZELMutableIDVector> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELMutableIDVector> vectorWithID(ZELID id);
    static std::shared_ptr<ZELMutableIDVector> vectorWithIDs(const ZELID* ids, uint32_t count);
    static std::shared_ptr<ZELMutableIDVector> newWithIDs(ZELID* ids, uint32_t count,
                                                          bool freeWhenDone);

    // Union with a normalized array. When memory runs out the vector stays unchanged.
    virtual void addIDs(const ZELID* ids, uint32_t count);
    // Difference with a normalized array.
    virtual void removeIDs(const ZELID* ids, uint32_t count);
    // The other vector's IDs fed to addIDs.
    virtual void unionWithVector(const ZELIDVector& other);
    // Gives back memory allocated beyond the IDs held; nothing for vectors that hold none.
    virtual void releaseSpareCapacity() {}
    // Keeps only the IDs also in `other`.
    virtual void intersectWithVector(const ZELIDVector& other);
    // The other vector's IDs fed to removeIDs.
    virtual void subtractVector(const ZELIDVector& other);

    void addID(ZELID id) { addIDs(&id, 1); }
    void removeID(ZELID id) { removeIDs(&id, 1); }

protected:
    ZELMutableIDVector() = default;

    // Raises "ZELImmutableVectorException" naming this vector.
    [[noreturn]] void raiseImmutable() const;
};
