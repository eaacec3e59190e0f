// Feeds arbitrary bytes to the index reader of a disk data storage, as the index beside a small
// valid data folder. Whatever loads must then serve lookups (objects or errors reported to the
// delegate), take a new object, save, and load again, without crashing.

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

[[noreturn]] void failWith(const char* what) { ZELFuzzFail("storage_index", what); }

// A folder holding a pristine store (objects of 10, 20, 200, 10 and 3000 bytes, the fourth
// removed) and a work folder that each input starts from.
struct Folders {
    std::filesystem::path pristine;
    std::filesystem::path work;
};

// Made at the first input and removed at exit; never destroyed, so that the exit handler can
// still use it.
const Folders& folders() {
    static const Folders* const made = [] {
        ZELSetLogSink([](std::string_view) {});
        const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                           ("zel-fuzz-storage-index-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "pristine");
        std::filesystem::create_directories(root / "work");
        auto store = ZELFuzzMakeStore(root / "pristine" / "items");
        store->loadAndGetError(nullptr);
        for (const size_t size : {10, 20, 200, 10, 3000}) {
            store->assignUniqueIndexIDForObject(
                std::make_shared<ZELFuzzBytesObject>(std::vector<uint8_t>(size, 0x5A)));
        }
        store->ensureSerializedAndGetError(nullptr);
        store->removeObjectAtIndexID(4);
        store->ensureSerializedAndGetError(nullptr);
        std::atexit([] { std::filesystem::remove_all(folders().pristine.parent_path()); });
        return new Folders{root / "pristine", root / "work"};
    }();
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Folders& paths = folders();
    std::filesystem::remove_all(paths.work);
    std::filesystem::copy(paths.pristine, paths.work, std::filesystem::copy_options::recursive);
    {
        std::ofstream index(paths.work / "items.index", std::ios::binary | std::ios::trunc);
        index.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    auto store = ZELFuzzMakeStore(paths.work / "items");
    ZELFuzzCountingDelegate delegate;
    store->setDelegate(&delegate);
    ZELError error;
    if (!store->loadAndGetError(&error)) {
        if (error.domain().empty()) failWith("a failed load gave no error");
        return 0;
    }
    uint64_t failedLookups = 0;
    const uint64_t count = std::min<uint64_t>(store->assignedCount(), 4096);
    for (ZELID objectID = 1; objectID <= count; ++objectID) {
        if (store->isLivingObjectAtIndexID(objectID) &&
            !store->objectAtIndexID(objectID, true, true)) {
            ++failedLookups;
        }
    }
    if (failedLookups != delegate.errorCount)
        failWith("a failed lookup did not reach the delegate");
    const ZELID added = store->assignUniqueIndexIDForObject(
        std::make_shared<ZELFuzzBytesObject>(std::vector<uint8_t>(40, 0x33)));
    if (added == 0) failWith("no ID for a new object");
    if (store->ensureSerializedAndGetError(nullptr)) {
        auto reopened = ZELFuzzMakeStore(paths.work / "items");
        if (reopened->loadAndGetError(nullptr)) {
            const auto object = reopened->objectAtIndexID(added, true, true);
            if (!object || object->serializedByteCount() != 40) failWith("a saved object was lost");
        }
    }
    return 0;
}
