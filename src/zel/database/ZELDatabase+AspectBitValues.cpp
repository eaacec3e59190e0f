#include <algorithm>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELDatabase+Private.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/storage/ZELIDVectorArray.h"

// Both stores must accept the new ID; a refusal (code 7) undoes what was assigned, is reported
// as a background error and answers 0, so that the term is left out rather than half made.
ZELID ZELDatabase::assignAspectBitIDForNormalizedValue(const ZELString& normalized) {
    const ZELID aspectBitID = std::max(aspectBitValueStore_->nextUnassignedUniqueIndexID(),
                                       itemVectorsByAspectBitID_->nextUnassignedUniqueIndexID());
    if (!aspectBitValueStore_->assignID(aspectBitID,
                                        ZELAspectBitValueInfo::infoWithNormalizedValue(normalized))) {
        reportBackgroundError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIDInUse, "requested ID is already being used in the aspect value store"));
        return 0;
    }
    if (!itemVectorsByAspectBitID_->assignUniqueIndexID(aspectBitID, ZELIDVector::vector())) {
        aspectBitValueStore_->removeAspectBitValueInfoForID(aspectBitID);
        reportBackgroundError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIDInUse, "requested ID is already being used in the vector store"));
        return 0;
    }
    return aspectBitID;
}

void ZELDatabase::incrementUseCountForAspectBitID(ZELID aspectBitID,
                                                  const ZELString* upvoteCanonicalString) {
    ZELAspectBitValueInfo* info = aspectBitValueStore_->recordInPlace(aspectBitID);
    if (!info) return;
    info->adjustUseCount(1);
    if (upvoteCanonicalString) info->voteForCanonicalString(*upvoteCanonicalString);
    aspectBitValueStore_->markDirtyAspectBitValueInfoForID(aspectBitID);
}

void ZELDatabase::upvoteCanonicalStringForAspectBitID(ZELID aspectBitID,
                                                      const ZELString& writtenForm) {
    ZELAspectBitValueInfo* info = aspectBitValueStore_->recordInPlace(aspectBitID);
    if (!info) return;
    info->voteForCanonicalString(writtenForm);
    aspectBitValueStore_->markDirtyAspectBitValueInfoForID(aspectBitID);
}

bool ZELDatabase::decrementUseCountForAspectBitID(ZELID aspectBitID) {
    auto info = aspectBitValueStore_->aspectBitValueInfoForID(aspectBitID);
    if (!info) return false;
    if (info->adjustUseCount(-1) > 0) {
        aspectBitValueStore_->markDirtyAspectBitValueInfoForID(aspectBitID);
        return true;
    }
    for (const auto& aspect : allAspects()) {
        aspect->removeAspectBitNormalizedValue(info->normalizedValue(), aspectBitID);
    }
    aspectBitValueStore_->removeAspectBitValueInfoForID(aspectBitID);
    return false;
}

std::shared_ptr<ZELAspectBitValueInfo> ZELDatabase::aspectBitValueInfoForID(ZELID aspectBitID) {
    return lockedLookup(std::shared_ptr<ZELAspectBitValueInfo>(), [&] {
        return aspectBitValueStore_->aspectBitValueInfoForID(aspectBitID);
    });
}

std::optional<ZELString> ZELDatabase::aspectBitNormalizedValueForID(ZELID aspectBitID) {
    return aspectBitNormalizedValueForID(aspectBitID, true);
}

std::optional<ZELString> ZELDatabase::aspectBitNormalizedValueForID(ZELID aspectBitID, bool load) {
    return lockedLookup(std::optional<ZELString>(), [&]() -> std::optional<ZELString> {
        if (auto key = sortedListKeyForAspectBitID(aspectBitID, load)) return *key;
        return std::nullopt;
    });
}

std::vector<ZELString> ZELDatabase::aspectBitNormalizedValuesForIDs(const ZELID* aspectBitIDs,
                                                                    uint64_t count) {
    return lockedLookup(std::vector<ZELString>(), [&] {
        std::vector<ZELString> values;
        values.reserve(count);
        aspectBitValueStore_->enumerateObjectsWithIndexIDs(
            aspectBitIDs, count, true, [&](const ZELDiskDataStorage::Object& object) {
                if (const auto* info = dynamic_cast<const ZELAspectBitValueInfo*>(object.get())) {
                    values.push_back(info->normalizedValue());
                }
            });
        return values;
    });
}

std::shared_ptr<const ZELString> ZELDatabase::sortedListKeyForAspectBitID(ZELID aspectBitID,
                                                                          bool load) {
    if (!aspectBitValueStore_) return nullptr;
    auto info = ZELAspectBitValueStorage::asRecord(
        aspectBitValueStore_->objectAtIndexID(aspectBitID, load, true));
    if (!info) return nullptr;
    // The normalized value never changes while its record lives; the record stays alive while
    // the key is lent.
    const ZELString* key = &info->normalizedValue();
    return std::shared_ptr<const ZELString>(std::move(info), key);
}

const ZELString* ZELDatabase::cachedSortedListKeyForAspectBitID(ZELID aspectBitID) const {
    if (!aspectBitValueStore_) return nullptr;
    const ZELAspectBitValueInfo* info = ZELAspectBitValueStorage::asRecord(
        aspectBitValueStore_->cachedObjectInPlace(aspectBitID));
    return info ? &info->normalizedValue() : nullptr;
}

std::optional<ZELString> ZELDatabase::aspectBitCanonicalValueForID(
    ZELID aspectBitID, std::shared_ptr<ZELAspect>* outAspect) {
    return aspectBitCanonicalValueForID(aspectBitID, allAspects(), outAspect);
}

std::optional<ZELString> ZELDatabase::aspectBitCanonicalValueForID(
    ZELID aspectBitID, const std::vector<std::shared_ptr<ZELAspect>>& aspects,
    std::shared_ptr<ZELAspect>* outAspect) {
    return lockedLookup(std::optional<ZELString>(), [&]() -> std::optional<ZELString> {
        auto info = aspectBitValueStore_->aspectBitValueInfoForID(aspectBitID);
        if (!info) return std::nullopt;
        for (const auto& aspect : aspects) {
            std::optional<ZELString> canonical;
            if (aspect->aspectBitIDForNormalizedValue(info->normalizedValue(), &canonical,
                                                      nullptr) == aspectBitID) {
                if (outAspect) *outAspect = aspect;
                return canonical;
            }
        }
        return std::nullopt;
    });
}
