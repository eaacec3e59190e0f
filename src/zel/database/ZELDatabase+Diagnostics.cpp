#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase+Private.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELWorkerPool.h"
#include "zel/storage/ZELAspectBitValueStorage.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

void ZELDatabase::compactMemory(int level) {
    if (!isBootstrapped_) return;
    accessLockedUsing([&] {
        // The term side changes little between passes; at level 2 it is compacted only on
        // every tenth pass.
        if (level != 2 || compactCount_ % 10 == 0) {
            aspectBitValueStore_->compactMemory(level);
            itemVectorsByAspectBitID_->compactMemory(level);
            for (const auto& aspect : allAspects()) aspect->compactMemory(level);
        }
        compactItemSide(level);
        ++compactCount_;
    });
}

void ZELDatabase::setItemSideByteBudget(uint64_t byteCount) {
    accessLockedUsing([&] { itemSideByteBudget_ = byteCount; });
}

void ZELDatabase::compactItemSide(int level) {
    itemStore_->compactMemory(level);
    aspectBitVectorsByItemID_->compactMemory(level);
    itemSideByteCount_ = 0;
}

void ZELDatabase::noteItemSideBytes(uint64_t byteCount) {
    itemSideByteCount_ += byteCount;
    if (itemSideByteCount_ >= itemSideByteBudget_) compactItemSide(2);
}

std::string ZELDatabase::description() const {
    return const_cast<ZELDatabase*>(this)->descriptionWithDetails(false);
}

std::string ZELDatabase::debugDescription() {
    return ZELStringWithFormat("%s with %ld items \n", descriptionHead().c_str(),
                               static_cast<long>(itemCount())) +
           description();
}

std::string ZELDatabase::descriptionWithDetails(bool withBlocks) {
    if (isInvalid()) return descriptionHead() + " has been invalidated.";
    if (!isBootstrapped_) return descriptionHead() + " has not been opened.";
    std::string text;
    try {
        ZELMemoryMetricsGatherer total, lists, items, itemToTerms, terms, termToItems;
        accessLockedUsing([&] {
            for (const auto& aspect : allAspects()) {
                aspect->gatherMemoryMetrics(lists);
                aspect->gatherMemoryMetrics(total);
            }
        });
        const auto gatherFrom = [&](const ZELMemoryMetricsProvider& provider,
                                    ZELMemoryMetricsGatherer& gatherer) {
            accessLockedUsing([&] {
                provider.gatherMemoryMetrics(gatherer);
                provider.gatherMemoryMetrics(total);
            });
        };
        gatherFrom(*itemStore_, items);
        gatherFrom(*aspectBitVectorsByItemID_, itemToTerms);
        gatherFrom(*aspectBitValueStore_, terms);
        gatherFrom(*itemVectorsByAspectBitID_, termToItems);
        accessLockedUsing([&] {
            text += ZELStringWithFormat("In total using %s \n\n", total.description().c_str());
            text += ZELStringWithFormat("Items: %ld count, %s \n",
                                        static_cast<long>(itemStore_->itemCount()),
                                        items.description().c_str());
            text += ZELStringWithFormat(
                "Search Terms: %lu count, %s \n\n",
                static_cast<unsigned long>(aspectBitValueStore_->aspectBitValueCount()),
                terms.description().c_str());
            text += ZELStringWithFormat("Item to Term Map: %s \n", itemToTerms.description().c_str());
            text += ZELStringWithFormat("Term to Item Map: %s \n", termToItems.description().c_str());
            text += ZELStringWithFormat("Completion Map: %s \n\n", lists.description().c_str());
            if (withBlocks) {
                text += ZELStringWithFormat("ITEM BLOCKS:\n%s\n\n", items.descriptionForBlocks().c_str());
                text += ZELStringWithFormat("TERM BLOCKS:\n%s\n\n", terms.descriptionForBlocks().c_str());
                text += ZELStringWithFormat("ITEM TO TERM BLOCKS:\n%s\n\n",
                                            itemToTerms.descriptionForBlocks().c_str());
                text += ZELStringWithFormat("TERM TO ITEM BLOCKS:\n%s\n\n",
                                            termToItems.descriptionForBlocks().c_str());
            }
        });
    } catch (const ZELException& exception) {
        text += ZELStringWithFormat("\n\n! caught exception while calculating database metrics: %s",
                                    exception.reason().c_str());
    } catch (const std::exception& exception) {
        text += ZELStringWithFormat("\n\n! caught exception while calculating database metrics: %s",
                                    exception.what());
    }
    return text;
}

void ZELDatabase::descriptionWithDetails(bool withBlocks, std::function<void(std::string)> callback) {
    auto self = std::static_pointer_cast<ZELDatabase>(shared_from_this());
    ZELWorkerPool::global().async([self, withBlocks, callback = std::move(callback)] {
        callback(self->descriptionWithDetails(withBlocks));
    });
}

std::string ZELDatabase::descriptionForAspectBitIDs(const ZELIDVector& aspectBitIDs) {
    std::string text = ZELStringWithFormat("%s (%ld AspectBitIDs): \n",
                                           aspectBitIDs.descriptionHead().c_str(),
                                           static_cast<long>(aspectBitIDs.count()));
    const auto aspects = allAspects();
    accessLockedUsing([&] {
        aspectBitIDs.enumerateIDs([&](ZELID aspectBitID, bool&) {
            std::shared_ptr<ZELAspect> aspect;
            const auto canonical = aspectBitCanonicalValueForID(aspectBitID, aspects, &aspect);
            if (canonical && aspect) {
                text += ZELStringWithFormat("%s (%u) in %s \n", ZELStringToUTF8(*canonical).c_str(),
                                            aspectBitID,
                                            ZELStringToUTF8(aspect->aspectIdentifier()).c_str());
            } else {
                text += ZELStringWithFormat("*** unknown ID %u \n", aspectBitID);
            }
        });
    });
    return text;
}
