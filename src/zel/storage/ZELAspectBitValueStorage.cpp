#include "zel/storage/ZELAspectBitValueStorage.h"

std::shared_ptr<ZELAspectBitValueStorage> ZELAspectBitValueStorage::storageWithBaseNameURL(
    std::filesystem::path baseNameURL) {
    return std::make_shared<ZELAspectBitValueStorage>(std::move(baseNameURL));
}

ZELAspectBitValueStorage::ZELAspectBitValueStorage(std::filesystem::path baseNameURL)
    : ZELDiskDataStorage(std::move(baseNameURL)) {
    setSerializableObjectClass(ZELAspectBitValueInfo::deserializer());
    setIsDataBlockSizeGenerallyStatic(true);
    didFinishInit();
}

std::shared_ptr<ZELAspectBitValueInfo> ZELAspectBitValueStorage::aspectBitValueInfoForID(
    ZELID aspectBitID) {
    return asRecord(objectAtIndexID(aspectBitID, true, true));
}

ZELID ZELAspectBitValueStorage::assignIDForAspectBitValueInfo(
    std::shared_ptr<ZELAspectBitValueInfo> info) {
    return assignUniqueIndexIDForObject(std::move(info));
}

bool ZELAspectBitValueStorage::assignID(ZELID aspectBitID,
                                        std::shared_ptr<ZELAspectBitValueInfo> info) {
    return assignUniqueIndexID(aspectBitID, std::move(info));
}

void ZELAspectBitValueStorage::compactMemory(int level) {
    ZELDiskDataStorage::compactMemory(level, [](const Object& object, ZELID, bool, bool&) {
        const auto* info = dynamic_cast<const ZELAspectBitValueInfo*>(object.get());
        return !info || info->useCount() < kEvictableUseCountLimit;
    });
}
