#pragma once

// Shared by the fuzz targets that damage the files of a disk data storage: an object of raw
// bytes, a delegate that counts the errors reported to it, and the store over such objects.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/stream/ZELStream.h"

// An object of raw bytes: its form is the bytes alone.
class ZELFuzzBytesObject final : public ZELStreamSerializable {
public:
    explicit ZELFuzzBytesObject(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint64_t serializedByteCount() const override { return bytes_.size(); }
    bool serializeToStream(ZELStream& stream) const override {
        return bytes_.empty() || stream.writeData(bytes_);
    }
    static std::shared_ptr<ZELStreamSerializable> read(ZELStream& stream, uint64_t length) {
        std::vector<uint8_t> bytes(length);
        if (length > 0 && !stream.readBytes(bytes.data(), length)) return nullptr;
        return std::make_shared<ZELFuzzBytesObject>(std::move(bytes));
    }

private:
    std::vector<uint8_t> bytes_;
};

class ZELFuzzCountingDelegate final : public ZELDiskDataStorageDelegate {
public:
    void diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage&, const ZELError&) override {
        ++errorCount;
    }
    // A free space table rebuilt at load is no failed lookup.
    void diskDataStorageDidRepairDerivedData(ZELDiskDataStorage&, const ZELError&) override {}
    uint64_t errorCount = 0;
};

// A store of bytes objects with base URL `baseURL`.
inline std::shared_ptr<ZELDiskDataStorage> ZELFuzzMakeStore(const std::filesystem::path& baseURL) {
    return ZELDiskDataStorage::storageWithBaseNameURL(baseURL, &ZELFuzzBytesObject::read);
}

// Reports what broke, naming the target, and stops the run.
[[noreturn]] inline void ZELFuzzFail(const char* target, const char* what) {
    std::fprintf(stderr, "%s fuzz target: %s\n", target, what);
    std::abort();
}
