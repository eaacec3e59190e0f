#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase+Private.h"
#include "zel/database/ZELItem.h"
#include "zel/database/ZELItemDefinition.h"
#include "zel/database/ZELItemExistenceMap.h"
#include "zel/platform/ZELNotificationCenter.h"
#include "zel/storage/ZELIDVectorArray.h"
#include "zel/storage/ZELItemStorage.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELSerializableData.h"

namespace {

uint32_t readClassToken(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool vectorsHoldSameIDs(const std::shared_ptr<ZELIDVector>& a,
                        const std::shared_ptr<ZELIDVector>& b) {
    const bool aEmpty = !a || a->isEmpty();
    const bool bEmpty = !b || b->isEmpty();
    if (aEmpty || bEmpty) return aEmpty == bEmpty;
    return a->isEqual(*b);
}

// Builds the item of a blob whose class (from its class token) was resolved under the lock.
// The blob: class token (uint32, little-endian), then the item's own bytes, which start with
// the 8-byte existence token (see ZELItem::serializeDatabaseBlobToStream).
std::shared_ptr<ZELItem> newItemFromBlob(const std::shared_ptr<ZELSerializableData>& blob,
                                         const std::optional<std::string>& className, ZELID itemID,
                                         ZELError* outError) {
    auto stream =
        ZELDataStream::streamWithData(std::shared_ptr<const ZELData>(blob, &blob->value()));
    stream->readUInt32Little();
    std::optional<ZELItemClass> itemClass;
    if (className) itemClass = ZELItemClass::itemClassNamed(*className);
    std::shared_ptr<ZELItem> item;
    bool built = false;
    if (!stream->streamError().isError() && itemClass) {
        item = itemClass->make();
        built = item->initByDeserializingDatabaseBlobFromStream(*stream, itemID);
    }
    if (const ZELError streamError = stream->streamError(); streamError.isError()) {
        return ZELSetError(outError, streamError), nullptr;
    }
    if (!itemClass) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeInvalidData, "invalid item class token in data")),
               nullptr;
    }
    if (!built) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                                           "item could not be deserialized from data")),
               nullptr;
    }
    return item;
}

// An item's prepared tokens, one entry per aspect (see ZELAspect::preparedTokensForItem).
using PreparedItemTokens = std::vector<std::optional<ZELAspect::PreparedTokens>>;

// Takes no database lock; the item's tokenizing hooks run around it, on the calling thread.
PreparedItemTokens preparedTokensForItem(ZELItem& item,
                                         const std::vector<std::shared_ptr<ZELAspect>>& aspects) {
    PreparedItemTokens prepared;
    prepared.reserve(aspects.size());
    item.willBeTokenized();
    for (const auto& aspect : aspects) prepared.push_back(aspect->preparedTokensForItem(item));
    item.wasTokenized();
    return prepared;
}

// Enters the tokens aspect by aspect, in the aspects' order.
std::shared_ptr<ZELItemDefinition> definitionForPreparedTokens(
    const std::shared_ptr<ZELItem>& item, const std::vector<std::shared_ptr<ZELAspect>>& aspects,
    const PreparedItemTokens& prepared) {
    auto definition = std::make_shared<ZELItemDefinition>(item);
    for (size_t index = 0; index < aspects.size(); ++index) {
        if (prepared[index]) aspects[index]->addAspectBitsToItemDefinition(*definition, *prepared[index]);
    }
    return definition;
}

// Items being added by addItems. Helper threads and the calling thread claim items to prepare
// (free -> claimed -> ready, or failed when preparing threw on a helper, which the calling
// thread then repeats to raise it); the calling thread enters them in order.
class ItemPreparation {
public:
    ItemPreparation(const std::vector<std::shared_ptr<ZELItem>>& items,
                    std::vector<std::shared_ptr<ZELAspect>> aspects)
        : items_(items), aspects_(std::move(aspects)), prepared_(items.size()),
          states_(new std::atomic<uint8_t>[items.size()]) {
        for (size_t index = 0; index < items.size(); ++index) states_[index].store(kFree);
    }

    const std::vector<std::shared_ptr<ZELAspect>>& aspects() const { return aspects_; }

    // A helper's loop: prepares the next unclaimed items until none is left or stop().
    void help() {
        for (size_t index = next_.fetch_add(1); index < items_.size(); index = next_.fetch_add(1)) {
            if (!claim(index)) continue;
            uint8_t outcome = kReady;
            try {
                prepared_[index] = preparedTokensForItem(*items_[index], aspects_);
            } catch (...) {
                outcome = kFailed;
            }
            states_[index].store(outcome, std::memory_order_release);
            states_[index].notify_one();
        }
    }
    // Helpers take no further item.
    void stop() { next_.store(items_.size()); }

    // The calling thread: the item's prepared tokens, prepared here unless a helper has them
    // (waiting for it when it is at work). The entry is handed over.
    PreparedItemTokens take(size_t index) {
        if (!claim(index)) {
            uint8_t state = states_[index].load(std::memory_order_acquire);
            while (state == kClaimed) {
                states_[index].wait(kClaimed, std::memory_order_acquire);
                state = states_[index].load(std::memory_order_acquire);
            }
            if (state == kReady) return std::move(prepared_[index]);
        }
        return preparedTokensForItem(*items_[index], aspects_);
    }

private:
    static constexpr uint8_t kFree = 0, kClaimed = 1, kReady = 2, kFailed = 3;

    bool claim(size_t index) {
        uint8_t expected = kFree;
        return states_[index].compare_exchange_strong(expected, kClaimed, std::memory_order_acq_rel);
    }

    const std::vector<std::shared_ptr<ZELItem>>& items_;
    const std::vector<std::shared_ptr<ZELAspect>> aspects_;
    std::vector<PreparedItemTokens> prepared_;
    std::unique_ptr<std::atomic<uint8_t>[]> states_;
    std::atomic<size_t> next_{0};
};

}  // namespace

// ---- Adding and matching ----

std::vector<ZELID> ZELDatabase::addItems(const std::vector<std::shared_ptr<ZELItem>>& items,
                                         unsigned threadCount) {
    std::vector<ZELID> itemIDs(items.size(), 0);
    if (!isBootstrapped_) return itemIDs;
    ItemPreparation preparation(items, allAspects());
    std::vector<std::jthread> helpers;
    // Declared after the helpers, so that they stop taking items before they are joined.
    struct StopGuard {
        ItemPreparation& preparation;
        ~StopGuard() { preparation.stop(); }
    } stopGuard{preparation};
    for (unsigned helper = 1; helper < threadCount && helper < items.size(); ++helper) {
        helpers.emplace_back([&preparation] { preparation.help(); });
    }
    for (size_t index = 0; index < items.size(); ++index) {
        if (!items[index]) continue;
        const auto definition = definitionForPreparedTokens(items[index], preparation.aspects(),
                                                            preparation.take(index));
        itemIDs[index] = addOrMatchItemDefinition(items[index], *definition, true, 0, nullptr);
    }
    return itemIDs;
}

ZELID ZELDatabase::addItem(const std::shared_ptr<ZELItem>& item, bool* outWasAdded) {
    return addOrMatchItem(item, true, 0, outWasAdded);
}

std::shared_ptr<ZELItem> ZELDatabase::itemMatchingItem(const std::shared_ptr<ZELItem>& item,
                                                       bool allowAdd, ZELError* outError) {
    bool wasAdded = false;
    const ZELID itemID = addOrMatchItem(item, allowAdd, 0, &wasAdded);
    if (itemID == 0) return nullptr;
    if (wasAdded) return item;
    return itemForItemID(itemID, outError);
}

std::shared_ptr<ZELItemDefinition> ZELDatabase::tokenizeItem(const std::shared_ptr<ZELItem>& item) {
    const auto aspects = allAspects();
    return definitionForPreparedTokens(item, aspects, preparedTokensForItem(*item, aspects));
}

ZELID ZELDatabase::itemIDMatchingItemDefinition(const ZELItemDefinition& definition) {
    const auto duplicateIDs = definition.duplicateItemDetectionAspectBitIDs();
    if (!duplicateIDs || duplicateIDs->isEmpty()) return 0;
    const auto candidates = itemVectorsByAspectBitID_->intersectionOfVectorsAtIndexIDs(*duplicateIDs);
    ZELID match = 0;
    candidates->enumerateIDs([&](ZELID candidate, bool& stop) {
        const auto stored = itemForItemID(candidate, nullptr);
        if (definition.item()->isDuplicateImportedItem(stored.get())) {
            match = candidate;
            stop = true;
        }
    });
    return match;
}

ZELID ZELDatabase::addOrMatchItem(const std::shared_ptr<ZELItem>& item, bool allowAdd,
                                  ZELID updatingID, bool* outWasAdded) {
    if (outWasAdded) *outWasAdded = false;
    if (!item || !isBootstrapped_) return 0;
    return addOrMatchItemDefinition(item, *tokenizeItem(item), allowAdd, updatingID, outWasAdded);
}

// Entering the definition's tokens raised the use count of every aspect bit of the item once.
// Those raises stand only when this very call stores the item with this definition; every other
// outcome (a match, a refused ID, a take-over that re-tokenizes) gives them back, so that a use
// count always equals the number of stored items carrying the value.
ZELID ZELDatabase::addOrMatchItemDefinition(const std::shared_ptr<ZELItem>& item,
                                            const ZELItemDefinition& definition, bool allowAdd,
                                            ZELID updatingID, bool* outWasAdded) {
    if (outWasAdded) *outWasAdded = false;
    bool wasAdded = false;
    const ZELID answer = accessLockedUsing([&]() -> ZELID {
        const auto bitIDs = definition.allAspectBitIDs();
        const ZELID match = itemIDMatchingItemDefinition(definition);
        if (match != 0) {
            if (allowAdd) {
                const auto stored = itemForItemID(match, nullptr);
                const bool changed = stored && stored->wasDiscoveredAsOriginalFor(*item);
                if (changed) itemStore_->setObject(databaseBlobForItem(*stored, match), match, true);
                const auto storedBitIDs = aspectBitVectorsByItemID_->vectorAtIndexID(match);
                if (match != updatingID && !vectorsHoldSameIDs(storedBitIDs, bitIDs)) {
                    item->setItemID(match);
                    updateIndexingForChangedItem(item);
                    itemsDidChange(*ZELIDVector::vectorWithID(match));
                } else if (changed) {
                    itemsDidChange(*ZELIDVector::vectorWithID(match));
                }
                // A re-indexed item that now duplicates another merges into it.
                if (updatingID != 0) item->setItemID(match);
            }
            if (bitIDs) releaseAspectBitIDs(*bitIDs);
            return match;
        }
        if (!allowAdd) {
            if (bitIDs) releaseAspectBitIDs(*bitIDs);
            return 0;
        }
        const ZELID itemID = storeNewItem(item, definition, updatingID);
        if (itemID == 0) {
            if (bitIDs) releaseAspectBitIDs(*bitIDs);
            return 0;
        }
        wasAdded = true;
        return itemID;
    });
    if (outWasAdded) *outWasAdded = wasAdded;
    return answer;
}

// Both stores must accept the ID before anything else changes: a refused ID (code 7) leaves the
// stores and vectors as they were, is reported as a background error, and answers 0.
// Requires: the database lock is held.
ZELID ZELDatabase::storeNewItem(const std::shared_ptr<ZELItem>& item,
                                const ZELItemDefinition& definition, ZELID updatingID) {
    ZELID itemID = updatingID;
    if (itemID == 0) {
        itemID = std::max(itemStore_->nextUnassignedUniqueIndexID(),
                          aspectBitVectorsByItemID_->nextUnassignedUniqueIndexID());
    }
    const auto bitIDs = definition.allAspectBitIDs();
    // An item without terms still gets its (empty) entry, so that the two stores stay in step.
    const auto storedBitIDs = bitIDs ? bitIDs->copy() : ZELIDVector::vector();
    if (!itemStore_->assignUniqueIndexID(itemID, ZELSerializableData::dataWithValue({}))) {
        reportBackgroundError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIDInUse, "requested ID is already being used in the item store"));
        return 0;
    }
    if (!aspectBitVectorsByItemID_->assignUniqueIndexID(itemID, storedBitIDs)) {
        itemStore_->removeObjectForItemID(itemID);
        reportBackgroundError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIDInUse, "requested ID is already being used in the vector store"));
        return 0;
    }
    itemVectorsByAspectBitID_->addID(itemID, *storedBitIDs);
    if (updatingID == 0) item->willBeAddedToDatabaseUsingItemID(itemID);
    const auto blob = databaseBlobForItem(*item, itemID);
    itemStore_->setObject(blob, itemID, true);
    if (updatingID == 0) item->wasAddedToDatabase();
    itemsDidChange(*ZELIDVector::vectorWithID(item->itemID()));
    noteItemSideBytes(blob->serializedByteCount() + storedBitIDs->serializedByteCount());
    return itemID;
}

void ZELDatabase::updateIndexingForChangedItem(const std::shared_ptr<ZELItem>& item) {
    if (!item || item->itemID() == 0) return;
    beginItemChanges();
    try {
        accessLockedUsing([&] {
            const ZELID itemID = item->itemID();
            const std::vector<std::shared_ptr<ZELItem>> items{item};
            removeItemsWithIDs(*ZELIDVector::vectorWithID(itemID), &items, true);
            addOrMatchItem(item, true, itemID, nullptr);
        });
        itemsDidChange(*ZELIDVector::vectorWithID(item->itemID()));
    } catch (...) {
        endItemChanges();
        throw;
    }
    endItemChanges();
}

// ---- Removal ----

void ZELDatabase::removeItemsWithIDs(const ZELIDVector& itemIDs) {
    removeItemsWithIDs(itemIDs, nullptr, false);
}

void ZELDatabase::removeItemsWithIDs(const ZELIDVector& itemIDs,
                                     const std::vector<std::shared_ptr<ZELItem>>* items,
                                     bool isUpdating) {
    if (!isBootstrapped_) return;
    size_t index = 0;
    itemIDs.enumerateIDs([&](ZELID itemID, bool&) {
        accessLockedUsing([&] {
            std::shared_ptr<ZELItem> item;
            if (items && index < items->size()) {
                item = (*items)[index];
            } else if (!items) {
                item = itemForItemID(itemID, nullptr);
            }
            const auto bitIDs = aspectBitVectorsByItemID_->vectorAtIndexID(itemID);
            itemStore_->removeObjectForItemID(itemID);
            if (bitIDs) {
                itemVectorsByAspectBitID_->removeID(itemID, *bitIDs);
                releaseAspectBitIDs(*bitIDs);
            }
            aspectBitVectorsByItemID_->removeObjectAtIndexID(itemID);
            if (!isUpdating && item) item->wasRemovedFromDatabase();
        });
        ++index;
    });
    if (!itemIDs.isEmpty()) itemsDidChange(itemIDs);
}

// Lowers the use count of each aspect bit once; a value that no stored item carries any more
// leaves its sorted list and the value store (decrementUseCountForAspectBitID), and its now
// empty item vector goes too, so that its ID is free again.
// Requires: the database lock is held.
void ZELDatabase::releaseAspectBitIDs(const ZELIDVector& aspectBitIDs) {
    aspectBitIDs.enumerateIDs([&](ZELID aspectBitID, bool&) {
        if (decrementUseCountForAspectBitID(aspectBitID)) return;
        const auto items = itemVectorsByAspectBitID_->vectorAtIndexID(aspectBitID);
        if (items && items->isEmpty()) itemVectorsByAspectBitID_->removeObjectAtIndexID(aspectBitID);
    });
}

// ---- Change batching ----

void ZELDatabase::beginItemChanges() { itemChangeLevel_.fetch_add(1); }

void ZELDatabase::endItemChanges() {
    if (itemChangeLevel_.fetch_sub(1) == 1) sendChangeNotificationsIfNeeded();
}

void ZELDatabase::itemsDidChange(const ZELIDVector& itemIDs) {
    if (itemIDs.isEmpty()) return;
    {
        std::lock_guard<std::mutex> guard(changedItemIDsLock_);
        if (changedItemIDs_) {
            changedItemIDs_->unionWithVector(itemIDs);
        } else {
            changedItemIDs_ = itemIDs.mutableCopy();
        }
    }
    if (itemChangeLevel_.load() == 0) sendChangeNotificationsIfNeeded();
}

// The pending vector is taken under its own lock: a thread that notes changes meanwhile
// either lands in the vector taken here or starts a new one that its own release posts.
void ZELDatabase::sendChangeNotificationsIfNeeded() {
    std::shared_ptr<ZELMutableIDVector> taken;
    {
        std::lock_guard<std::mutex> guard(changedItemIDsLock_);
        if (lockCount_.load() != 0 || itemChangeLevel_.load() != 0 || !changedItemIDs_) return;
        taken = std::move(changedItemIDs_);
        changedItemIDs_.reset();
    }
    ZELValue::Dictionary userInfo{
        {ZELDatabaseNotificationKey_ChangedItemIDs,
         ZELValue(std::static_pointer_cast<ZELObject>(taken->copy()))}};
    ZELNotificationCenter::defaultCenter().post(ZELDatabaseNotification_ItemsDidChange, this,
                                                std::move(userInfo));
}

// ---- Reading ----

uint32_t ZELDatabase::itemCount() {
    return lockedLookup(uint32_t{0}, [&] { return itemStore_->itemCount(); });
}

ZELID ZELDatabase::largestExistingItemID() {
    return lockedLookup(ZELID{0}, [&] { return itemStore_->largestAssignedItemID(); });
}

std::shared_ptr<ZELIDVector> ZELDatabase::allExistingItemIDs() {
    return lockedLookup(ZELIDVector::vector(), [&] {
        std::vector<ZELID> ids;
        ids.reserve(itemStore_->itemCount());
        const ZELID largest = itemStore_->largestAssignedItemID();
        for (ZELID itemID = 1; itemID != 0 && itemID <= largest; ++itemID) {
            if (itemStore_->isLivingObjectAtIndexID(itemID)) ids.push_back(itemID);
        }
        return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
    });
}

bool ZELDatabase::itemExistsForItemID(ZELID itemID) {
    return lockedLookup(false, [&] { return itemStore_->isLivingObjectAtIndexID(itemID); });
}

std::shared_ptr<ZELSerializableData> ZELDatabase::itemDataForItemID(ZELID itemID) {
    return lockedLookup(std::shared_ptr<ZELSerializableData>(),
                        [&] { return itemStore_->objectForItemID(itemID); });
}

std::shared_ptr<ZELItem> ZELDatabase::itemForItemID(ZELID itemID, ZELError* outError) {
    std::shared_ptr<ZELSerializableData> blob;
    std::optional<std::string> className;
    if (!isBootstrapped_) return nullptr;
    accessLockedUsing([&] {
        blob = itemStore_->objectForItemID(itemID);
        if (blob && blob->value().size() >= 4) {
            className = classMap_->itemClassForToken(readClassToken(blob->value().data()));
        }
    });
    if (!blob) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeIDNotAssigned,
                                                                     "itemID has not been assigned")),
               nullptr;
    }
    return newItemFromBlob(blob, className, itemID, outError);
}

std::shared_ptr<ZELItem> ZELDatabase::itemForDatabaseBlob(const ZELSerializableData& blob,
                                                          ZELID itemID, ZELError* outError) {
    auto copy = ZELSerializableData::dataWithValue(blob.value());
    std::optional<std::string> className;
    if (copy->value().size() >= 4) {
        className = classMap_->itemClassForToken(readClassToken(copy->value().data()));
    }
    return newItemFromBlob(copy, className, itemID, outError);
}

std::shared_ptr<ZELSerializableData> ZELDatabase::databaseBlobForItem(const ZELItem& item,
                                                                      ZELID itemID) {
    (void)itemID;  // the blob does not record its ID; the store keeps it at that ID
    auto stream = ZELDataWriteStream::stream();
    stream->writeUInt32Little(classMap_->tokenForItemClass(ZELItemClass::registeredNameForItem(item)));
    item.serializeDatabaseBlobToStream(*stream);
    return ZELSerializableData::dataWithValue(*stream->mutableData());
}

// ---- Stale items ----

std::shared_ptr<ZELIDVector> ZELDatabase::itemIDsForItemsMissingFromItemExistenceMap(
    const ZELItemExistenceMap& map, const std::function<bool()>& isCancelled) {
    return accessLockedUsing([&] {
        std::vector<ZELID> missing;
        const uint64_t stored = itemStore_->itemCount();
        missing.reserve(stored > map.count() ? stored - map.count() + 100 : 100);
        std::map<uint32_t, std::optional<ZELItemClass>> classesByToken;
        uint64_t visited = 0;
        bool cancelled = false;
        const auto visitBlob = [&](ZELID itemID, const uint8_t* bytes, uint64_t length) {
            if (length >= 4) {
                const uint32_t token = readClassToken(bytes);
                auto found = classesByToken.find(token);
                if (found == classesByToken.end()) {
                    std::optional<ZELItemClass> itemClass;
                    if (auto name = classMap_->itemClassForToken(token)) {
                        itemClass = ZELItemClass::itemClassNamed(*name);
                    }
                    found = classesByToken.emplace(token, std::move(itemClass)).first;
                }
                ZELItemExistenceToken existence;
                const auto& itemClass = found->second;
                if (itemClass && itemClass->isExistenceCheckable() &&
                    itemClass->getExistenceToken(&existence, bytes + 4, length - 4) &&
                    !map.containsItemExistenceToken(existence)) {
                    missing.push_back(itemID);
                }
            }
            if (++visited % 1000 == 0 && isCancelled && isCancelled()) cancelled = true;
        };
        // Blobs changed since the last save are not on disk yet (or are there in an older
        // form): they are taken from memory, and their stored bytes are skipped.
        std::map<ZELID, std::shared_ptr<ZELSerializableData>> unsaved;
        itemStore_->enumerateInMemoryObjectsUsing(
            [&](const ZELDiskDataStorage::Object& object, ZELID itemID, bool isClean, bool&) {
                if (isClean) return;
                if (auto blob = std::dynamic_pointer_cast<ZELSerializableData>(object)) {
                    unsaved.emplace(itemID, std::move(blob));
                }
            });
        itemStore_->enumerateObjectDataInDiskOptimalOrderUsing(
            [&](ZELID itemID, const uint8_t* bytes, uint64_t length, bool& stop) {
                if (unsaved.count(itemID) == 0) visitBlob(itemID, bytes, length);
                stop = cancelled;
            });
        for (const auto& [itemID, blob] : unsaved) {
            if (cancelled) break;
            visitBlob(itemID, blob->value().data(), blob->value().size());
        }
        std::sort(missing.begin(), missing.end());
        return ZELIDVector::vectorWithIDs(missing.data(), static_cast<uint32_t>(missing.size()));
    });
}

// ---- Vector lookups ----

std::shared_ptr<ZELIDVectorArray> ZELDatabase::itemVectorsByAspectBitID() const {
    if (itemVectorsByAspectBitID_) itemVectorsByAspectBitID_->enterGatheredIDs();
    return itemVectorsByAspectBitID_;
}

std::shared_ptr<ZELIDVector> ZELDatabase::itemIDVectorForAspectBitID(ZELID aspectBitID) {
    return lockedLookup(ZELIDVector::vector(), [&] {
        return ZELDatabaseDetachedVector(itemVectorsByAspectBitID_->vectorAtIndexID(aspectBitID));
    });
}

std::shared_ptr<ZELIDVector> ZELDatabase::itemIDVectorByIntersectingItemsWithAspectBitIDs(
    const ZELIDVector& aspectBitIDs) {
    return lockedLookup(ZELIDVector::vector(), [&] {
        return ZELDatabaseDetachedVector(
            itemVectorsByAspectBitID_->intersectionOfVectorsAtIndexIDs(aspectBitIDs));
    });
}

std::shared_ptr<ZELIDVector> ZELDatabase::itemIDVectorByUnionOfItemsWithAspectBitIDs(
    const ZELIDVector& aspectBitIDs) {
    return lockedLookup(ZELIDVector::vector(), [&] {
        return ZELDatabaseDetachedVector(
            itemVectorsByAspectBitID_->unionOfVectorsAtIndexIDs(aspectBitIDs));
    });
}

std::shared_ptr<ZELIDVector> ZELDatabase::aspectIDVectorForItemID(ZELID itemID) {
    return lockedLookup(ZELIDVector::vector(), [&] {
        return ZELDatabaseDetachedVector(aspectBitVectorsByItemID_->vectorAtIndexID(itemID));
    });
}

std::shared_ptr<ZELIDVector> ZELDatabase::aspectIDVectorByUnionOfAspectIDsForItemIDs(
    const ZELIDVector& itemIDs) {
    return lockedLookup(ZELIDVector::vector(), [&] {
        return ZELDatabaseDetachedVector(aspectBitVectorsByItemID_->unionOfVectorsAtIndexIDs(itemIDs));
    });
}
