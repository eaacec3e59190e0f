#include "zel/storage/ZELDiskDataStorage.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "zel/platform/ZELException.h"
#include "zel/platform/ZELString.h"
#include "zel/storage/ZELDiskDataStorageIndex.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

namespace {

// The slot table grows in steps of this many slots.
constexpr uint64_t kSlotGrowthStep = 128;

}  // namespace

std::shared_ptr<ZELDiskDataStorage> ZELDiskDataStorage::storageWithBaseNameURL(
    std::filesystem::path baseNameURL, ZELStreamDeserializer storedType) {
    auto storage = std::make_shared<ZELDiskDataStorage>(std::move(baseNameURL));
    storage->setSerializableObjectClass(std::move(storedType));
    storage->didFinishInit();
    return storage;
}

ZELDiskDataStorage::ZELDiskDataStorage(std::filesystem::path baseNameURL)
    : baseURL_(std::move(baseNameURL)),
      objectIndex_(std::make_unique<ZELDiskDataStorageIndex>()),
      // The size classes are built by resetToEmpty, which didFinishInit calls.
      objectStore_(std::make_unique<ZELDiskDataStorageStrategyManager>(baseURL_, false)) {
    slots_.setReadErrorHandler([this](const ZELError& error) { reportStreamError(error); });
}

ZELDiskDataStorage::~ZELDiskDataStorage() {
    // Not the virtual invalidate: subclasses are already gone here.
    ZELDiskDataStorage::invalidate();
}

void ZELDiskDataStorage::didFinishInit() {
    resetToEmpty();
}

void ZELDiskDataStorage::resetToEmpty() {
    resetStorage();
}

void ZELDiskDataStorage::resetStorage() {
    if (objectStore_) objectStore_->resetToEmpty();
    objectIndex_->resetToEmpty();
    lastError_ = ZELError();
    slots_.clear();
    needsSlotCheck_ = false;
    smallestUnusedObjectIndexGuess_ = 0;
    fullDirtyRange_ = ZELDiskDataStorageIndexRange();
}

void ZELDiskDataStorage::invalidate() {
    if (isInvalidated()) return;
    baseURL_.clear();
    delegate_ = nullptr;
    resetStorage();
    objectStore_->invalidate();
    objectStore_.reset();
}

bool ZELDiskDataStorage::failIfInvalidated(ZELError* outError) const {
    if (!isInvalidated()) return false;
    ZELSetError(outError,
                ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                                "ZELDiskDataStorage has been invalidated"));
    return true;
}

const ZELStreamDeserializer& ZELDiskDataStorage::serializableObjectClass() const {
    static const ZELStreamDeserializer none;
    return objectStore_ ? objectStore_->serializableObjectClass() : none;
}

void ZELDiskDataStorage::setSerializableObjectClass(ZELStreamDeserializer storedType) {
    if (objectStore_) objectStore_->setSerializableObjectClass(std::move(storedType));
}

void ZELDiskDataStorage::setIsDataBlockSizeGenerallyStatic(bool flag) {
    if (objectStore_) objectStore_->setIsDataBlockSizeGenerallyStatic(flag);
}

std::filesystem::path ZELDiskDataStorage::indexFileURL() const {
    std::filesystem::path url = baseURL_;
    url += ".index";
    return url;
}

// ---- IDs and slots ----

ZELID ZELDiskDataStorage::largestAssignedObjectIndexID() const {
    return objectIndex_->largestAssignedObjectIndexID();
}

uint32_t ZELDiskDataStorage::livingObjectCount() const {
    return objectIndex_->livingObjectCount();
}

uint64_t ZELDiskDataStorage::assignedCount() const {
    return std::min<uint64_t>(largestAssignedObjectIndexID(), slots_.size());
}

uint32_t ZELDiskDataStorage::assignedOffsetForObjectAtIndex(uint64_t index,
                                                            uint32_t* outLength) const {
    if (index >= assignedCount()) {
        if (outLength) *outLength = 0;
        return 0;
    }
    if (outLength) *outLength = slots_[index].length;
    return slots_[index].offset;
}

bool ZELDiskDataStorage::isLivingObjectAtIndexID(ZELID objectID) const {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return false;
    const ZELDiskDataStorageObjectInfo& info = slots_[objectID - 1];
    return info.hasStoredData() || info.object != nullptr;
}

ZELID ZELDiskDataStorage::smallestUnassignedObjectIndexID() {
    const uint64_t count = assignedCount();
    for (uint64_t candidate = smallestUnusedObjectIndexGuess_ + 1;; ++candidate) {
        if (candidate - 1 >= count) {
            smallestUnusedObjectIndexGuess_ = count;
            return static_cast<ZELID>(count + 1);
        }
        if (!isLivingObjectAtIndexID(static_cast<ZELID>(candidate))) {
            smallestUnusedObjectIndexGuess_ = candidate - 1;
            return static_cast<ZELID>(candidate);
        }
    }
}

void ZELDiskDataStorage::growSlotsToInclude(uint64_t index) {
    if (index < slots_.size()) return;
    const uint64_t newCapacity = (index + kSlotGrowthStep + 1) / kSlotGrowthStep * kSlotGrowthStep;
    try {
        slots_.growTo(newCapacity);
    } catch (const std::bad_alloc&) {
        ZELRaise(ZELOutOfMemoryException,
                 "ZELDiskDataStorage object buffer resize failed, out of memory");
    }
}

bool ZELDiskDataStorage::assignUniqueIndexID(ZELID objectID, Object object) {
    if (objectID == 0 || isInvalidated() || isLivingObjectAtIndexID(objectID)) return false;
    const uint64_t index = objectID - 1;
    growSlotsToInclude(index);
    objectIndex_->didAssignObjectIndexID(objectID);
    if (smallestUnusedObjectIndexGuess_ == index) ++smallestUnusedObjectIndexGuess_;
    markSlotDirty(index);
    slots_[index].object = std::move(object);
    return true;
}

ZELID ZELDiskDataStorage::assignUniqueIndexIDForObject(Object object) {
    const ZELID objectID = nextUnassignedUniqueIndexID();
    return assignUniqueIndexID(objectID, std::move(object)) ? objectID : 0;
}

void ZELDiskDataStorage::removeObjectAtIndexID(ZELID objectID) {
    if (!isLivingObjectAtIndexID(objectID)) return;
    const uint64_t index = objectID - 1;
    objectStore_->discardDataForObjectWithInfo(slots_[index]);
    markSlotDirty(index);
    smallestUnusedObjectIndexGuess_ = std::min(smallestUnusedObjectIndexGuess_, index);
    objectIndex_->didUnassignObjectIndexID(objectID);
}

// ---- Objects ----

ZELDiskDataStorage::Object ZELDiskDataStorage::objectAtIndexID(
    ZELID objectID, bool load, bool cache, const ZELStreamDeserializer& requiredClass) {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return nullptr;
    const uint64_t index = objectID - 1;
    if (!load) {
        // A lookup that must not load reads no slot page: a page not read holds no object.
        const ZELDiskDataStorageObjectInfo* slot = slots_.slotIfRead(index);
        return slot ? slot->object : nullptr;
    }
    if (slots_[index].object) return slots_[index].object;
    if (!slots_[index].hasStoredData() || isInvalidated()) return nullptr;
    return loadObjectInSlot(index, cache, requiredClass);
}

ZELStreamSerializable* ZELDiskDataStorage::cachedObjectInPlace(ZELID objectID) const {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return nullptr;
    const ZELDiskDataStorageObjectInfo* slot = slots_.slotIfRead(objectID - 1);
    return slot ? slot->object.get() : nullptr;
}

void ZELDiskDataStorage::prefetchSlot(ZELID objectID) const {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return;
    if (const ZELDiskDataStorageObjectInfo* slot = slots_.slotIfRead(objectID - 1)) {
        __builtin_prefetch(slot);
    }
}

void ZELDiskDataStorage::prefetchCachedObject(ZELID objectID) const {
    // The object's first two cache lines: small records lie within them.
    if (const auto* object = reinterpret_cast<const char*>(cachedObjectInPlace(objectID))) {
        __builtin_prefetch(object);
        __builtin_prefetch(object + 64);
    }
}

ZELDiskDataStorage::Object ZELDiskDataStorage::objectAtIndexID(ZELID objectID, bool load,
                                                               bool cache) {
    return objectAtIndexID(objectID, load, cache, serializableObjectClass());
}

ZELDiskDataStorage::Object ZELDiskDataStorage::objectAtIndexID(
    ZELID objectID, const ZELStreamDeserializer& loadWithForcedClass, bool cache) {
    return objectAtIndexID(objectID, true, cache, loadWithForcedClass);
}

ZELDiskDataStorage::Object ZELDiskDataStorage::loadObjectInSlot(uint64_t index, bool cache,
                                                                const ZELStreamDeserializer& type) {
    Object object;
    ZELError error;
    const bool didRead = objectStore_->readDataForObjectWithInfo(
        slots_[index], &error,
        [&](ZELStream& stream, uint64_t objectByteCount) -> ZELError {
            if (type) {
                object = stream.newReadZELSerializableOfLength(objectByteCount, type);
            } else {
                // A damaged class name must fail this lookup, not the program.
                try {
                    object = stream.newReadZELSerializableOfLength(objectByteCount);
                } catch (const ZELException& exception) {
                    return ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                                           exception.reason());
                }
            }
            if (object) return ZELError();
            if (ZELError streamError = stream.streamError()) return streamError;
            return ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                                   "stored object could not be read");
        });
    if (!didRead) {
        reportStreamError(error);
        return nullptr;
    }
    if (cache) slots_[index].object = object;
    return object;
}

void ZELDiskDataStorage::reportStreamError(const ZELError& error) {
    if (!lastError_) lastError_ = error;
    if (delegate_) delegate_->diskDataStorageDidEncounterBackgroundError(*this, error);
}

void ZELDiskDataStorage::setObject(Object object, ZELID objectID, bool markDirty) {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return;
    slots_[objectID - 1].object = std::move(object);
    if (markDirty) markSlotDirty(objectID - 1);
}

void ZELDiskDataStorage::evictCachedObjectAtIndexID(ZELID objectID) {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return;
    ZELDiskDataStorageObjectInfo& info = slots_[objectID - 1];
    if (!info.dirty && info.hasStoredData()) info.object.reset();
}

void ZELDiskDataStorage::evictCachedObjectsPassing(const EvictionPredicate& predicate) {
    // Unread pages cache nothing.
    slots_.enumerateReadSlots(
        0, assignedCount(), [&](uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop) {
            if (!info.object || info.dirty || !info.hasStoredData()) return;
            if (predicate(info.object, static_cast<ZELID>(index + 1), true, stop)) {
                info.object.reset();
            }
        });
}

void ZELDiskDataStorage::markSlotDirty(uint64_t index) {
    slots_[index].dirty = 1;
    if (fullDirtyRange_.length == 0) {
        fullDirtyRange_ = ZELDiskDataStorageIndexRange{index, 1};
        return;
    }
    const uint64_t start = std::min(fullDirtyRange_.location, index);
    const uint64_t end = std::max(fullDirtyRange_.location + fullDirtyRange_.length, index + 1);
    fullDirtyRange_ = ZELDiskDataStorageIndexRange{start, end - start};
}

void ZELDiskDataStorage::markObjectDirtyAtIndexID(ZELID objectID) {
    if (objectID == 0 || objectID - 1 >= assignedCount()) return;
    markSlotDirty(objectID - 1);
}

void ZELDiskDataStorage::clearObjectDirtyInRange(uint64_t location, uint64_t length) {
    // Unread pages hold no dirty mark.
    slots_.enumerateReadSlots(location, location + length,
                              [](uint64_t, ZELDiskDataStorageObjectInfo& info, bool&) {
                                  info.dirty = 0;
                              });
    fullDirtyRange_ = ZELDiskDataStorageIndexRange();
}

void ZELDiskDataStorage::compactMemory(int level) {
    compactMemory(level, [](const Object&, ZELID, bool, bool&) { return true; });
}

// ---- Diagnostics ----

uint64_t ZELDiskDataStorage::byteCountInActiveRAMForObject(
    const ZELStreamSerializable& object) const {
    return ZELOtherObjectByteCountInActiveRAM + object.serializedByteCount();
}

void ZELDiskDataStorage::gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const {
    gatherer.addByteCountToRAM(sizeof(*this) + slots_.residentByteCount());
    gatherer.addByteCount(ZELDiskDataStorageStrategyManager::fileByteCountOnDisk(indexFileURL()),
                          ZELMemoryMetricTypeDisk);
    if (!objectStore_) return;
    objectStore_->gatherMemoryMetrics(
        gatherer, [this](ZELDiskDataStorageSlotVisitor visit) { enumerateAssignedSlotsUsing(visit); },
                                      [this](const ZELStreamSerializable& object) {
                                          return byteCountInActiveRAMForObject(object);
                                      });
}

std::string ZELDiskDataStorage::description() const {
    return ZELStringWithFormat("%s, largestID=%s, %s", descriptionHead().c_str(),
                               std::to_string(largestAssignedObjectIndexID()).c_str(),
                               ZELMemoryMetricsGatherer::descriptionForObject(*this).c_str());
}

std::string ZELDiskDataStorage::descriptionDetailed() const {
    const ZELMemoryMetricsGatherer gatherer = ZELMemoryMetricsGatherer::gathererTotaledFor(*this);
    return ZELStringWithFormat(
        "%s, largestID=%s, %s \nDISK ALLOCATION BREAKDOWN:\n%s\n\n", descriptionHead().c_str(),
        std::to_string(largestAssignedObjectIndexID()).c_str(), gatherer.description().c_str(),
        gatherer.descriptionForBlocks().c_str());
}
