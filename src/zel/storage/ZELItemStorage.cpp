#include "zel/storage/ZELItemStorage.h"

std::shared_ptr<ZELItemStorage> ZELItemStorage::storageWithBaseNameURL(
    std::filesystem::path baseNameURL) {
    return std::make_shared<ZELItemStorage>(std::move(baseNameURL));
}

ZELItemStorage::ZELItemStorage(std::filesystem::path baseNameURL)
    : ZELDiskDataStorage(std::move(baseNameURL)) {
    setSerializableObjectClass([](ZELStream& stream, uint64_t length) {
        return ZELSerializableData::newDeserializedFromStream(stream, length);
    });
    setIsDataBlockSizeGenerallyStatic(true);
    didFinishInit();
}

ZELID ZELItemStorage::assignItemIDForObject(std::shared_ptr<ZELSerializableData> blob) {
    return assignUniqueIndexIDForObject(std::move(blob));
}

std::shared_ptr<ZELSerializableData> ZELItemStorage::objectForItemID(ZELID itemID) {
    return std::dynamic_pointer_cast<ZELSerializableData>(objectAtIndexID(itemID, true, true));
}
