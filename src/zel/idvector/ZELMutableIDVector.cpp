#include "zel/idvector/ZELMutableIDVector.h"

#include "zel/idvector/ZELIDVector_CArray.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELString.h"

// Factories: through ZELMutableIDVector, the growable array representation.

std::shared_ptr<ZELMutableIDVector> ZELMutableIDVector::vector() {
    return ZELMutableIDVector_CArray::vector();
}

std::shared_ptr<ZELMutableIDVector> ZELMutableIDVector::vectorWithCapacity(uint32_t capacity) {
    return ZELMutableIDVector_CArray::vectorWithCapacity(capacity);
}

std::shared_ptr<ZELMutableIDVector> ZELMutableIDVector::vectorWithID(ZELID id) {
    return ZELMutableIDVector_CArray::vectorWithID(id);
}

std::shared_ptr<ZELMutableIDVector> ZELMutableIDVector::vectorWithIDs(const ZELID* ids,
                                                                      uint32_t count) {
    return ZELMutableIDVector_CArray::vectorWithIDs(ids, count);
}

std::shared_ptr<ZELMutableIDVector> ZELMutableIDVector::newWithIDs(ZELID* ids, uint32_t count,
                                                                   bool freeWhenDone) {
    return ZELMutableIDVector_CArray::newWithIDs(ids, count, freeWhenDone);
}

// The base versions serve the immutable representations: the two primitives and the
// intersection raise; union and subtraction feed the primitives, so they raise too, whatever
// the other vector holds.

void ZELMutableIDVector::addIDs(const ZELID*, uint32_t) {
    raiseImmutable();
}

void ZELMutableIDVector::removeIDs(const ZELID*, uint32_t) {
    raiseImmutable();
}

void ZELMutableIDVector::unionWithVector(const ZELIDVector& other) {
    other.accessIDsBuffer([this](const ZELID* ids, uint32_t count) { addIDs(ids, count); });
}

void ZELMutableIDVector::intersectWithVector(const ZELIDVector&) {
    raiseImmutable();
}

void ZELMutableIDVector::subtractVector(const ZELIDVector& other) {
    other.accessIDsBuffer([this](const ZELID* ids, uint32_t count) { removeIDs(ids, count); });
}

void ZELMutableIDVector::raiseImmutable() const {
    ZELRaise(ZELImmutableVectorException,
             ZELStringWithFormat("incorrect attempt to mutate %s, which is immutable",
                                 descriptionHead().c_str()));
}
