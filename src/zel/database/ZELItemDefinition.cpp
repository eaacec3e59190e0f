#include "zel/database/ZELItemDefinition.h"

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELItem.h"

ZELItemDefinition::ZELItemDefinition(std::shared_ptr<ZELItem> item) : item_(std::move(item)) {}

void ZELItemDefinition::addAspectBitIDs(const ZELIDVector& ids, const ZELAspect& aspect) {
    if (ids.isEmpty()) return;
    if (!aspectBitIDs_) aspectBitIDs_ = ZELMutableIDVector::vector();
    aspectBitIDs_->unionWithVector(ids);
    if (aspect.isUsedToDetectDuplicates()) {
        if (!duplicateDetectionBitIDs_) duplicateDetectionBitIDs_ = ZELMutableIDVector::vector();
        duplicateDetectionBitIDs_->unionWithVector(ids);
    }
}

bool ZELItemDefinition::containsAspectBitID(ZELID aspectBitID) const {
    return aspectBitIDs_ && aspectBitIDs_->containsID(aspectBitID);
}
