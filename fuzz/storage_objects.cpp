// Reads objects from damaged data files. The first input byte picks a data file of a small valid
// store (fixed 16- and 32-byte blocks, batched blocks); the rest replaces that file's bytes.
// Loading fails cleanly or every lookup yields an object or an error reported to the delegate;
// changing objects and saving must then neither crash nor lose a saved object.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ZELFuzzStorageSupport.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/stream/ZELStream.h"

namespace {

[[noreturn]] void failWith(const char* what) { ZELFuzzFail("storage_objects", what); }

// Made at the first input and removed at exit; never destroyed, so that the exit handler can
// still use it.
const std::filesystem::path& root() {
    static const std::filesystem::path* const made = [] {
        ZELSetLogSink([](std::string_view) {});
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("zel-fuzz-storage-objects-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "pristine");
        auto store = ZELFuzzMakeStore(folder / "pristine" / "items");
        store->loadAndGetError(nullptr);
        // Files 1 (IDs 1, 4, 7), 2 (IDs 2, 5) and 9 (IDs 3, 6); ID 4 removed for a free block.
        for (int i = 0; i < 7; ++i) {
            const size_t size = i % 3 == 0 ? 10 : i % 3 == 1 ? 20 : 150 + i;
            store->assignUniqueIndexIDForObject(std::make_shared<ZELFuzzBytesObject>(
                std::vector<uint8_t>(size, static_cast<uint8_t>(i))));
        }
        store->ensureSerializedAndGetError(nullptr);
        store->removeObjectAtIndexID(4);
        store->ensureSerializedAndGetError(nullptr);
        std::atexit([] { std::filesystem::remove_all(root()); });
        return new std::filesystem::path(folder);
    }();
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::filesystem::path work = root() / "work";
    std::filesystem::remove_all(work);
    std::filesystem::copy(root() / "pristine", work, std::filesystem::copy_options::recursive);
    static const char* const kVictims[] = {"items/0/1.data", "items/0/2.data", "items/0/9.data",
                                           "items/0/1.free"};
    {
        std::ofstream file(work / kVictims[data[0] % 4], std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }

    auto store = ZELFuzzMakeStore(work / "items");
    ZELFuzzCountingDelegate delegate;
    store->setDelegate(&delegate);
    ZELError error;
    if (!store->loadAndGetError(&error)) {
        if (error.domain().empty()) failWith("a failed load gave no error");
        return 0;
    }
    uint64_t failedLookups = 0;
    for (ZELID objectID = 1; objectID <= store->assignedCount(); ++objectID) {
        if (store->isLivingObjectAtIndexID(objectID) &&
            !store->objectAtIndexID(objectID, true, false)) {
            ++failedLookups;
        }
    }
    if (failedLookups != delegate.errorCount)
        failWith("a failed lookup did not reach the delegate");
    store->enumerateObjectDataInDiskOptimalOrderUsing(
        [](ZELID, const uint8_t* bytes, uint64_t byteCount, bool&) {
            volatile uint8_t sum = 0;
            for (uint64_t i = 0; i < byteCount; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
        });

    // Grow one object, shrink another, add one: the new bytes must read back after a save.
    const std::vector<uint8_t> grown(90, 0x77);
    const std::vector<uint8_t> added(12, 0x11);
    store->setObject(std::make_shared<ZELFuzzBytesObject>(grown), 1, true);
    store->setObject(std::make_shared<ZELFuzzBytesObject>(std::vector<uint8_t>(5, 0x22)), 3, true);
    const ZELID addedID =
        store->assignUniqueIndexIDForObject(std::make_shared<ZELFuzzBytesObject>(added));
    if (!store->ensureSerializedAndGetError(nullptr)) return 0;
    auto reopened = ZELFuzzMakeStore(work / "items");
    if (!reopened->loadAndGetError(nullptr)) return 0;
    const auto readBack = [&](ZELID objectID) {
        const auto object = std::dynamic_pointer_cast<ZELFuzzBytesObject>(
            reopened->objectAtIndexID(objectID, true, true));
        return object ? object->bytes() : std::vector<uint8_t>{};
    };
    if (readBack(1) != grown || readBack(addedID) != added) failWith("a saved object was lost");
    reopened->loadAllAndGetError(nullptr);
    return 0;
}
