#include "zel/storage/ZELSortedList.h"

#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStream.h"

namespace {

// The description lists at most this many keys.
constexpr uint64_t kDescribedKeyCount = 11;

}  // namespace

std::shared_ptr<ZELSortedList> ZELSortedList::listWithBaseURL(std::string baseURL,
                                                              ZELSortedListKeyLoader keyLoader) {
    return std::shared_ptr<ZELSortedList>(
        new ZELSortedList(std::move(baseURL), std::move(keyLoader)));
}

ZELSortedList::ZELSortedList(std::string baseURL, ZELSortedListKeyLoader keyLoader)
    : baseURL_(std::move(baseURL)), keyLoader_(std::move(keyLoader)) {}

ZELSortedList::~ZELSortedList() { invalidate(); }

void ZELSortedList::setKeyCompareSelector(ZELSortedListKeyCompare compare,
                                          ZELSortedListKeyPrefixTest prefixTest,
                                          ZELSortedListKeyPrefixLowerBound prefixLowerBound) {
    keyCompare_ = std::move(compare);
    keyPrefixTest_ = std::move(prefixTest);
    keyPrefixLowerBound_ = std::move(prefixLowerBound);
}

void ZELSortedList::setKeyHash(ZELSortedListKeyHash keyHash) {
    keyHash_ = std::move(keyHash);
    idCache_.clear();
}

void ZELSortedList::invalidate() {
    idCache_.clear();
    keyLoader_ = nullptr;
    keyPeeker_ = nullptr;
    keyBatchLoader_ = nullptr;
    slices_.clear();
    keyCount_ = 0;
    closeSortFile();
}

bool ZELSortedList::readSlice(uint64_t sliceIndex) const {
    ZELSortedListSlice& slice = *slices_[sliceIndex];
    if (slice.isRead()) return true;
    if (!sortFile_ || !slice.readFromStream(*sortFile_, newSliceCapacity)) {
        ZELLogFormat("ZELSortedList could not read slice %lu of %s",
                     static_cast<unsigned long>(sliceIndex), sortIndexFileURL().c_str());
        return false;
    }
    if (--unreadSliceCount_ == 0) closeSortFile();
    return true;
}

bool ZELSortedList::readAllSlices(ZELError* outError) const {
    for (uint64_t index = 0; unreadSliceCount_ > 0 && index < slices_.size(); ++index) {
        if (!readSlice(index)) {
            return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                             ZELErrorCodeIOFailure,
                                             "could not read ZELSortedList sort file " +
                                                 sortIndexFileURL()));
        }
    }
    return true;
}

void ZELSortedList::closeSortFile() const {
    if (sortFile_) sortFile_->close();
    sortFile_.reset();
    unreadSliceCount_ = 0;
}

std::string ZELSortedList::sortIndexFileURL() const { return baseURL_ + ".sort"; }

// A binary search over the slices by their first keys finds the one slice that can hold the
// key: the last whose first key is not above it, or the first slice. That slice's own search
// gives the place, which is always a valid insertion place: inside the slice, or at its end
// when the key sorts between its last key and the next slice's first. Slices are never empty.
ZELSortedList::Position ZELSortedList::positionForKey(const ZELString& key, bool guided) const {
    Position position;
    if (!keyLoader_ || !keyCompare_) {
        position.keyUnavailable = !slices_.empty();
        return position;
    }
    if (slices_.empty()) return position;
    // A key the owner holds is lent in place, without a share: the search ends before the
    // owner can change. Others come through the owner's loader.
    const ZELSortedListKeyLoader loader = [this](ZELID keyID, bool load) {
        if (keyPeeker_) {
            if (const ZELString* heldKey = keyPeeker_(keyID)) {
                return ZELSortedListKey(ZELSortedListKey(), heldKey);
            }
        }
        return keyLoader_(keyID, load);
    };
    uint64_t lo = 0;
    uint64_t hi = slices_.size();
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        const ZELSortedListKey firstKey = loader(slices_[mid]->firstKeyID(), true);
        position.sliceIndex = mid;
        if (!firstKey) {
            position.keyUnavailable = true;
            return position;
        }
        const int order = keyCompare_(key, *firstKey);
        if (order == 0) {
            position.found = true;
            position.keyUnavailable = !readSlice(mid);
            return position;
        }
        if (order < 0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    position.sliceIndex = lo == 0 ? 0 : lo - 1;
    if (!readSlice(position.sliceIndex)) {
        position.keyUnavailable = true;
        return position;
    }
    const ZELSortedListSlice& slice = *slices_[position.sliceIndex];
    position.index = guided ? slice.guidedIndexForKey(key, &position.found, keyCompare_,
                                                      loader, &position.keyUnavailable)
                            : slice.indexForKey(key, &position.found, keyCompare_, loader,
                                                &position.keyUnavailable);
    return position;
}

ZELID ZELSortedList::cachedIDForKey(const ZELString& key, uint32_t hash) const {
    return idCache_.findID(hash, [&](ZELID keyID) {
        if (keyPeeker_) {
            // Keys alike in every code unit compare equal; the comparison decides the rest.
            if (const ZELString* heldKey = keyPeeker_(keyID)) {
                return key == *heldKey || keyCompare_(key, *heldKey) == 0;
            }
        }
        const ZELSortedListKey cachedKey = keyLoader_(keyID, true);
        return cachedKey && keyCompare_(key, *cachedKey) == 0;
    });
}

ZELSortedList::Lookup ZELSortedList::lookUp(const ZELString& key) const {
    Lookup lookup;
    if (keyHash_) lookup.hash = keyHash_(key);
    const bool usesCache = keyHash_ && keyLoader_ && keyCompare_;
    if (usesCache) {
        lookup.keyID = cachedIDForKey(key, lookup.hash);
        if (lookup.keyID != ZELNoID) return lookup;
    }
    lookup.position = positionForKey(key);
    if (!lookup.position.found || lookup.position.keyUnavailable) return lookup;
    lookup.keyID = slices_[lookup.position.sliceIndex]->keyIDAtIndex(lookup.position.index);
    if (usesCache) idCache_.addID(lookup.hash, lookup.keyID);
    return lookup;
}

ZELID ZELSortedList::assignedIDForKey(const ZELString& key) const { return lookUp(key).keyID; }

ZELSortedListKey ZELSortedList::keyForAssignedID(ZELID keyID) const {
    return keyLoader_ ? keyLoader_(keyID, true) : nullptr;
}

void ZELSortedList::assignID(ZELID keyID, const ZELString& key) {
    const Position position = positionForKey(key);
    if (position.found) return;
    if (position.keyUnavailable) {
        ZELLogFormat("ZELSortedList could not place key ID %u: a stored key failed to load",
                     keyID);
        return;
    }
    insertID(keyID, keyHash_ ? keyHash_(key) : 0, position);
}

ZELID ZELSortedList::assignedIDForKey(const ZELString& key, ZELFunctionRef<ZELID()> newKeyID,
                                      bool* outWasAssigned) {
    if (outWasAssigned) *outWasAssigned = false;
    const Lookup lookup = lookUp(key);
    if (lookup.keyID != ZELNoID) return lookup.keyID;
    if (lookup.position.keyUnavailable) {
        ZELLog("ZELSortedList could not place a new key: a stored key failed to load");
        return ZELNoID;
    }
    const ZELID keyID = newKeyID();
    if (keyID == ZELNoID || !insertID(keyID, lookup.hash, lookup.position)) return ZELNoID;
    if (outWasAssigned) *outWasAssigned = true;
    return keyID;
}

bool ZELSortedList::insertID(ZELID keyID, uint32_t hash, const Position& position) {
    if (slices_.empty()) {
        auto slice = ZELSortedListSlice::sliceWithCapacity(newSliceCapacity, nullptr, 0);
        if (!slice) return false;
        slices_.push_back(std::move(slice));
    }
    ZELSortedListSlice& slice = *slices_[position.sliceIndex];
    if (!slice.insertKeyID(keyID, position.index)) return false;

    // A full slice hands its upper half to a new slice right after it. When that slice cannot
    // be had the full one stays whole, and the split is tried again at its next insertion.
    if (slice.count() >= maximumSliceCount) {
        const uint64_t keptCount = slice.count() / 2;
        auto upper = ZELSortedListSlice::sliceWithCapacity(
            newSliceCapacity, slice.keyIDs() + keptCount, slice.count() - keptCount);
        if (upper) {
            slice.setCount(keptCount);
            slices_.insert(slices_.begin() + static_cast<std::ptrdiff_t>(position.sliceIndex) + 1,
                           std::move(upper));
        }
    }
    ++keyCount_;
    hasUnsavedChanges_ = true;
    if (keyHash_) idCache_.addID(hash, keyID);
    return true;
}

void ZELSortedList::removeAssignedIDForKey(const ZELString& key) {
    const Position position = positionForKey(key);
    if (!position.found || position.keyUnavailable) return;
    ZELSortedListSlice& slice = *slices_[position.sliceIndex];
    if (keyHash_) idCache_.removeID(keyHash_(key), slice.keyIDAtIndex(position.index));
    slice.removeKeyIDAtIndex(position.index);
    if (slice.count() == 0) {
        slices_.erase(slices_.begin() + static_cast<std::ptrdiff_t>(position.sliceIndex));
    }
    --keyCount_;
    hasUnsavedChanges_ = true;
}

void ZELSortedList::enumerateFrom(uint64_t sliceIndex, uint64_t index, const ZELString* prefix,
                                  const ZELIDVector* allowedKeyIDs,
                                  ZELSortedListKeyVisitor visitor) const {
    if (!keyLoader_) return;
    bool stop = false;
    for (; sliceIndex < slices_.size(); ++sliceIndex, index = 0) {
        if (!readSlice(sliceIndex)) continue;
        const ZELSortedListSlice& slice = *slices_[sliceIndex];
        for (; index < slice.count(); ++index) {
            const ZELID keyID = slice.keyIDAtIndex(index);
            if (allowedKeyIDs && !allowedKeyIDs->containsID(keyID)) continue;
            const ZELSortedListKey key = keyLoader_(keyID, true);
            if (!key) continue;
            // Keys are in order, so the first key without the prefix ends the run.
            if (prefix && !keyPrefixTest_(*key, *prefix)) return;
            visitor(keyID, *key, stop);
            if (stop) return;
        }
    }
}

void ZELSortedList::enumerateUsingBlock(ZELSortedListKeyVisitor visitor) const {
    enumerateFrom(0, 0, nullptr, nullptr, visitor);
}

void ZELSortedList::enumerateWithKeyPrefix(const ZELString& prefix,
                                           ZELSortedListKeyVisitor visitor) const {
    enumerateWithKeyPrefix(prefix, nullptr, visitor);
}

void ZELSortedList::enumerateWithKeyPrefix(const ZELString& prefix,
                                           const ZELIDVector* allowedKeyIDs,
                                           ZELSortedListKeyVisitor visitor) const {
    if (prefix.empty()) {
        enumerateFrom(0, 0, nullptr, allowedKeyIDs, visitor);
        return;
    }
    if (!keyPrefixTest_) return;
    const Position start =
        positionForKey(keyPrefixLowerBound_ ? keyPrefixLowerBound_(prefix) : prefix, true);
    if (start.keyUnavailable) return;
    enumerateFrom(start.sliceIndex, start.index, &prefix, allowedKeyIDs, visitor);
}

void ZELSortedList::enumerateIDBlocks(ZELSortedListIDBlockVisitor visitor) const {
    bool stop = false;
    for (uint64_t index = 0; index < slices_.size(); ++index) {
        if (!readSlice(index)) continue;
        visitor(slices_[index]->keyIDs(), slices_[index]->count(), stop);
        if (stop) return;
    }
}

void ZELSortedList::compactMemory(int level) {
    (void)level;
    idCache_.clear();
    for (const auto& slice : slices_) slice->dropGuide();
}

void ZELSortedList::gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const {
    uint64_t byteCount =
        sizeof(*this) + slices_.capacity() * sizeof(slices_[0]) + idCache_.byteCount();
    for (const auto& slice : slices_) {
        byteCount += sizeof(ZELSortedListSlice) + slice->byteCountInActiveRAM();
    }
    gatherer.addByteCountToRAM(byteCount);
    gatherer.addByteCount(ZELFileManager::byteCountOnDiskAtURL(sortIndexFileURL()),
                          ZELMemoryMetricTypeDisk);
}

bool ZELSortedList::isEqual(const ZELSortedList& other) const {
    if (this == &other) return true;
    // Comparing the counts as well makes equality symmetric (and consistent with hash): a
    // list holding a subset of the other's entries is not equal to it.
    if (count() != other.count()) return false;
    bool equal = true;
    enumerateUsingBlock([&](ZELID keyID, const ZELString& key, bool& stop) {
        if (other.assignedIDForKey(key) != keyID) {
            equal = false;
            stop = true;
        }
    });
    return equal;
}

bool ZELSortedList::isEqual(const ZELObject& other) const {
    const auto* list = dynamic_cast<const ZELSortedList*>(&other);
    return list && isEqual(*list);
}

std::string ZELSortedList::description() const {
    std::string text = descriptionHead();
    text += ZELStringWithFormat(", %lu keys \n\t stored at %s \n", static_cast<unsigned long>(count()),
                                baseURL_.c_str());
    text += "\t KEYS: ";
    uint64_t described = 0;
    enumerateUsingBlock([&](ZELID, const ZELString& key, bool& stop) {
        if (described == kDescribedKeyCount) {
            text += "...";
            stop = true;
            return;
        }
        text += ZELStringToUTF8(key);
        text += ", ";
        ++described;
    });
    return text;
}
