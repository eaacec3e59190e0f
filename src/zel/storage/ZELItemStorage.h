#pragma once

#include <filesystem>
#include <memory>

#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/stream/ZELSerializableData.h"

// The "items" table of a database: item ID -> the item's blob (its class token followed by the
// item's own bytes), kept as opaque bytes. Owned by the database; used under the database lock
// from one thread at a time.
class ZELItemStorage final : public ZELDiskDataStorage {
public:
    static std::shared_ptr<ZELItemStorage> storageWithBaseNameURL(
        std::filesystem::path baseNameURL);

    // Stores byte blobs; blocks are declared generally static in size. Not loaded yet.
    explicit ZELItemStorage(std::filesystem::path baseNameURL);

    uint32_t itemCount() const { return livingObjectCount(); }
    ZELID largestAssignedItemID() const { return largestAssignedObjectIndexID(); }
    // The smallest free ID, now holding `blob` (dirty).
    ZELID assignItemIDForObject(std::shared_ptr<ZELSerializableData> blob);
    // The blob, loaded and cached; null for an ID without one or when the read fails (the
    // error goes to the delegate).
    std::shared_ptr<ZELSerializableData> objectForItemID(ZELID itemID);
    void removeObjectForItemID(ZELID itemID) { removeObjectAtIndexID(itemID); }
};
