#pragma once

#include "zel/database/ZELDatabase.h"

// Shared by the ZELDatabase+*.cpp files.

template <typename Result, typename Block>
Result ZELDatabase::lockedLookup(Result whenUnavailable, Block&& block) {
    if (!isBootstrapped_ || !acquireLockIfValid()) return whenUnavailable;
    struct Relinquisher {
        ZELDatabase* db;
        ~Relinquisher() { db->relinquishLock(); }
    } relinquisher{this};
    return block();
}

// A vector answered to a caller who may use it after the lock is released: a stored vector
// that a writer may still change in place is copied.
inline std::shared_ptr<ZELIDVector> ZELDatabaseDetachedVector(std::shared_ptr<ZELIDVector> vector) {
    if (!vector) return ZELIDVector::vector();
    return vector->isMutable() ? vector->copy() : vector;
}
