#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ZELTestFileBytes.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/stream/ZELStream.h"

// Shared by the disk storage tests: a variable-size byte object, a store on a fresh folder, a
// delegate that records errors, and file helpers.

// A stored object of arbitrary bytes: its serialized form is the bytes alone (the container
// knows the length).
class ZELTestBytesObject final : public ZELStreamSerializable {
public:
    explicit ZELTestBytesObject(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    const std::vector<uint8_t>& bytes() const { return bytes_; }

    uint64_t serializedByteCount() const override { return bytes_.size(); }
    bool serializeToStream(ZELStream& stream) const override {
        return bytes_.empty() || stream.writeData(bytes_);
    }

    static ZELStreamDeserializer deserializer() {
        return [](ZELStream& stream, uint64_t length) -> std::shared_ptr<ZELStreamSerializable> {
            std::vector<uint8_t> bytes(length);
            if (length > 0 && !stream.readBytes(bytes.data(), length)) return nullptr;
            return std::make_shared<ZELTestBytesObject>(std::move(bytes));
        };
    }

private:
    std::vector<uint8_t> bytes_;
};

inline std::shared_ptr<ZELTestBytesObject> ZELTestObject(std::vector<uint8_t> bytes) {
    return std::make_shared<ZELTestBytesObject>(std::move(bytes));
}

// `count` bytes counting up from `seed`, so that objects differ.
inline std::shared_ptr<ZELTestBytesObject> ZELTestObjectOfSize(uint64_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (uint64_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return ZELTestObject(std::move(bytes));
}

// The bytes of a stored object, or none.
inline std::vector<uint8_t> ZELTestBytesOf(const ZELDiskDataStorage::Object& object) {
    const auto* bytesObject = dynamic_cast<const ZELTestBytesObject*>(object.get());
    return bytesObject ? bytesObject->bytes() : std::vector<uint8_t>{};
}

class ZELTestErrorRecorder final : public ZELDiskDataStorageDelegate {
public:
    void diskDataStorageDidEncounterBackgroundError(ZELDiskDataStorage&,
                                                    const ZELError& error) override {
        errors.push_back(error);
    }
    void diskDataStorageDidRepairDerivedData(ZELDiskDataStorage&, const ZELError& warning) override {
        warnings.push_back(warning);
    }
    std::vector<ZELError> errors;
    std::vector<ZELError> warnings;
};

// Little-endian builders for hand-written files.
inline void ZELTestAppend32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void ZELTestAppend64(std::vector<uint8_t>& bytes, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A fresh folder per test (in RAM where there is one: the stores make many small files);
// stores live at <folder>/items.
class ZELDiskStorageTest : public ZELTestFolderTest {
protected:
    std::filesystem::path baseURL() const { return folder_ / "items"; }
    std::filesystem::path indexURL() const { return folder_ / "items.index"; }
    std::filesystem::path dataFileURL(uint64_t fileNumber) const {
        return baseURL() / std::to_string(fileNumber / 100 * 100) /
               (std::to_string(fileNumber) + ".data");
    }
    std::filesystem::path freeSpaceTableURL(uint64_t fileNumber) const {
        return baseURL() / std::to_string(fileNumber / 100 * 100) /
               (std::to_string(fileNumber) + ".free");
    }

    std::shared_ptr<ZELDiskDataStorage> makeStore() const {
        return ZELDiskDataStorage::storageWithBaseNameURL(baseURL(),
                                                          ZELTestBytesObject::deserializer());
    }
    // A store loaded from the folder; fails the test when the load fails.
    std::shared_ptr<ZELDiskDataStorage> openStore() const {
        auto store = makeStore();
        ZELError error;
        EXPECT_TRUE(store->loadAndGetError(&error)) << error.description();
        return store;
    }
    // The error a load of the folder's store fails with; fails the test when the load succeeds.
    ZELError loadError() const {
        ZELError error;
        EXPECT_FALSE(makeStore()->loadAndGetError(&error));
        return error;
    }
    // A loaded store given objects of `sizes` bytes (ID n's seeded n), then saved.
    std::shared_ptr<ZELDiskDataStorage> savedStore(const std::vector<uint64_t>& sizes) const {
        auto store = openStore();
        for (const uint64_t size : sizes) {
            const auto seed = static_cast<uint8_t>(store->nextUnassignedUniqueIndexID());
            store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(size, seed));
        }
        EXPECT_TRUE(store->ensureSerializedAndGetError(nullptr));
        return store;
    }
};
