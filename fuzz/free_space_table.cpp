// Feeds arbitrary bytes to the free space table reader, as the table of a block-sharing data
// file. Whatever loads must keep the allocator sound: no block it hands out may overlap the data
// file's header or another block handed out, and a written table must read back the same.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDiskDataStorageStrategy_FixedSizeBlocks.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"
#include "zel/stream/ZELStream.h"

namespace {

// Made at the first input and removed at exit; never destroyed, so that the exit handler can
// still use it.
const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path* const folder = [] {
        const auto* made =
            new std::filesystem::path(std::filesystem::temp_directory_path() /
                                      ("zel-fuzz-free-space-" + std::to_string(::getpid())));
        std::filesystem::create_directories(*made);
        std::atexit([] { std::filesystem::remove_all(scratchFolder()); });
        return made;
    }();
    return *folder;
}

void writeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

[[noreturn]] void failWith(const char* what) {
    std::fprintf(stderr, "free_space_table fuzz target: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path tableURL = scratchFolder() / "1.free";
    const std::filesystem::path dataURL = scratchFolder() / "1.data";
    writeFile(tableURL, data, size);

    // The bare table: reading fails cleanly or yields a table the allocator can use.
    auto table = ZELDiskFreeSpaceTable::table();
    ZELError error;
    if (table->readFromURL(tableURL, &error)) {
        uint64_t offset = 0;
        for (uint32_t request : {1u, 16u, 64u, 1000u, 0xFFFFu}) {
            table->getFreeBlockOffset(&offset, request, true);
        }
        table->compactFreeBlocks();
        table->addFreeBlockOfSize(100, 1 << 20);
        if (!table->writeToURL(tableURL, &error)) failWith("a loaded table could not be written");
        auto reread = ZELDiskFreeSpaceTable::table();
        reread->setSmallestTrackedBlockSize(table->smallestTrackedBlockSize());
        if (!reread->readFromURL(tableURL, &error)) failWith("a written table did not read back");
        if (reread->freeBlocksTotalSize() != table->freeBlocksTotalSize()) {
            failWith("a written table read back with other blocks");
        }
    } else if (error.domain().empty()) {
        failWith("a failed read gave no error");
    }

    // The same bytes as the table of a 1 KiB data file of 16-byte blocks.
    writeFile(tableURL, data, size);
    static const uint8_t header[1024] = {8, 0, 0, 0, 16};
    writeFile(dataURL, header, sizeof(header));
    ZELDiskDataStorageStrategy_FixedSizeBlocks strategy(1, dataURL, 16);
    if (!strategy.openWithStreamFlags(3, 4096, &error)) return 0;
    std::map<uint32_t, uint32_t> handedOut;
    for (int i = 0; i < 80; ++i) {
        const uint32_t offset = strategy.writeOffsetForObjectOfLength(14, 0, 0, &error);
        if (offset == 0) break;
        if (offset < 8) failWith("a block overlaps the data file header");
        if (!handedOut.emplace(offset, 16).second) failWith("a block was handed out twice");
        const auto next = handedOut.upper_bound(offset);
        if (next != handedOut.end() && next->first < offset + 16) failWith("blocks overlap");
        if (strategy.accessWriteStreamForObjectOfLength(14, offset, [](ZELStream& stream) {
                static const uint8_t bytes[10] = {};
                stream.writeBytes(bytes, sizeof(bytes));
                return ZELError();
            })) {
            break;
        }
    }
    strategy.closeAndGetError(nullptr);
    return 0;
}
