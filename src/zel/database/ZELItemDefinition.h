#pragma once

#include <memory>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELObject.h"

class ZELAspect;
class ZELItem;

// What tokenizing one item produced: every aspect bit ID of the item over all aspects, and the
// subset that takes part in duplicate detection. Made by the database for one add or match and
// discarded afterwards; used by one thread.
class ZELItemDefinition : public ZELObject {
public:
    explicit ZELItemDefinition(std::shared_ptr<ZELItem> item);

    const std::shared_ptr<ZELItem>& item() const { return item_; }
    // Unites a non-empty `ids` into the item's IDs, and into the duplicate-detection IDs when
    // `aspect` is used to detect duplicates.
    void addAspectBitIDs(const ZELIDVector& ids, const ZELAspect& aspect);
    // Null until the first non-empty addition.
    std::shared_ptr<ZELIDVector> allAspectBitIDs() const { return aspectBitIDs_; }
    std::shared_ptr<ZELIDVector> duplicateItemDetectionAspectBitIDs() const {
        return duplicateDetectionBitIDs_;
    }
    // Whether `aspectBitID` is already among the item's IDs (its use was counted for this item).
    bool containsAspectBitID(ZELID aspectBitID) const;
    void markDefinedNewAspectBit() { isDefinedAspectBit_ = true; }
    bool isDefinedNewAspectBit() const { return isDefinedAspectBit_; }

private:
    std::shared_ptr<ZELItem> item_;
    std::shared_ptr<ZELMutableIDVector> aspectBitIDs_;
    std::shared_ptr<ZELMutableIDVector> duplicateDetectionBitIDs_;
    bool isDefinedAspectBit_ = false;
};
