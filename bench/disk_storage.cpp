// The disk object store at scale: 1,000,000 objects of mixed sizes (95% of 8 to 200 bytes, the
// rest up to 4,000) are assigned, saved, the store reopened and everything loaded back. Beside
// it, in the same run, the same payload bytes are written to and read from one file
// sequentially (fwrite / fread with 1 MiB buffers) as the physical reference.
//
// Counters: objects per second for each phase, bytes on disk per payload byte for the store and
// for the reference file, and the store's time for save and load relative to the reference.
// The reference runs first; dirty pages are flushed (sync) between phases, so that no phase pays
// for the writeback of another. Files go to $TMPDIR (the system's temporary folder by default).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "zel/platform/ZELFileManager.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/stream/ZELStream.h"

namespace {

constexpr uint64_t kObjectCount = 1000000;
constexpr size_t kIOBufferSize = 1 << 20;

class BenchBytesObject final : public ZELStreamSerializable {
public:
    explicit BenchBytesObject(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint64_t serializedByteCount() const override { return bytes_.size(); }
    bool serializeToStream(ZELStream& stream) const override { return stream.writeData(bytes_); }
    static std::shared_ptr<ZELStreamSerializable> read(ZELStream& stream, uint64_t length) {
        std::vector<uint8_t> bytes(length);
        if (length > 0 && !stream.readBytes(bytes.data(), length)) return nullptr;
        return std::make_shared<BenchBytesObject>(std::move(bytes));
    }

private:
    std::vector<uint8_t> bytes_;
};

std::vector<std::vector<uint8_t>> makePayload() {
    std::mt19937 random(42);
    std::vector<std::vector<uint8_t>> payload(kObjectCount);
    for (auto& bytes : payload) {
        const uint32_t size = random() % 100 < 95 ? 8 + random() % 193 : 201 + random() % 3800;
        bytes.resize(size);
        const auto seed = static_cast<uint8_t>(random());
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
    }
    return payload;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::filesystem::path freshFolder(const char* name) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         (std::string(name) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

void BM_DiskStorage_StoreSaveReopenLoadAll(benchmark::State& state) {
    const std::vector<std::vector<uint8_t>> payload = makePayload();
    uint64_t payloadBytes = 0;
    for (const auto& bytes : payload) payloadBytes += bytes.size();
    const std::filesystem::path folder = freshFolder("zel-bench-disk-storage");

    for (auto _ : state) {
        std::filesystem::remove_all(folder / "items");
        std::filesystem::remove(folder / "items.index");

        // The physical reference: the same bytes, one file, sequentially.
        const std::filesystem::path plainURL = folder / "plain.bin";
        std::vector<char> ioBuffer(kIOBufferSize);
        auto start = std::chrono::steady_clock::now();
        FILE* plain = std::fopen(plainURL.c_str(), "w");
        std::setvbuf(plain, ioBuffer.data(), _IOFBF, ioBuffer.size());
        for (const auto& bytes : payload) std::fwrite(bytes.data(), 1, bytes.size(), plain);
        std::fclose(plain);
        const double plainWriteSeconds = secondsSince(start);
        ::sync();
        start = std::chrono::steady_clock::now();
        plain = std::fopen(plainURL.c_str(), "r");
        std::setvbuf(plain, ioBuffer.data(), _IOFBF, ioBuffer.size());
        {
            std::vector<std::vector<uint8_t>> readBack(payload.size());
            for (size_t i = 0; i < payload.size(); ++i) {
                readBack[i].resize(payload[i].size());
                if (std::fread(readBack[i].data(), 1, readBack[i].size(), plain) !=
                    readBack[i].size()) {
                    state.SkipWithError("plain read failed");
                }
            }
            std::fclose(plain);
        }
        const double plainReadSeconds = secondsSince(start);
        const uint64_t plainDiskBytes = ZELFileManager::byteCountOnDiskAtURL(plainURL.string());

        ::sync();

        // The store: assign, save, reopen, load all.
        start = std::chrono::steady_clock::now();
        auto store =
            ZELDiskDataStorage::storageWithBaseNameURL(folder / "items", &BenchBytesObject::read);
        if (!store->loadAndGetError(nullptr)) state.SkipWithError("could not create the store");
        for (const auto& bytes : payload) {
            store->assignUniqueIndexIDForObject(std::make_shared<BenchBytesObject>(bytes));
        }
        const double assignSeconds = secondsSince(start);
        ::sync();
        start = std::chrono::steady_clock::now();
        if (!store->ensureSerializedAndGetError(nullptr)) state.SkipWithError("save failed");
        const double saveSeconds = secondsSince(start);
        store.reset();
        ::sync();

        start = std::chrono::steady_clock::now();
        store =
            ZELDiskDataStorage::storageWithBaseNameURL(folder / "items", &BenchBytesObject::read);
        if (!store->loadAndGetError(nullptr)) state.SkipWithError("reopen failed");
        const double reopenSeconds = secondsSince(start);
        start = std::chrono::steady_clock::now();
        if (!store->loadAllAndGetError(nullptr)) state.SkipWithError("load all failed");
        const double loadAllSeconds = secondsSince(start);
        if (store->livingObjectCount() != kObjectCount) state.SkipWithError("objects were lost");
        const uint64_t storeDiskBytes =
            ZELFileManager::byteCountOnDiskAtURL((folder / "items").string()) +
            ZELFileManager::byteCountOnDiskAtURL((folder / "items.index").string());
        const uint64_t storeFileBytes = [&] {
            uint64_t total = std::filesystem::file_size(folder / "items.index");
            for (const auto& entry :
                 std::filesystem::recursive_directory_iterator(folder / "items")) {
                if (entry.is_regular_file()) total += entry.file_size();
            }
            return total;
        }();
        store.reset();

        const auto perSecond = [](double seconds) {
            return static_cast<double>(kObjectCount) / seconds;
        };
        state.counters["assign_obj_per_s"] = perSecond(assignSeconds);
        state.counters["save_obj_per_s"] = perSecond(saveSeconds);
        state.counters["reopen_ms"] = reopenSeconds * 1000;
        state.counters["load_all_obj_per_s"] = perSecond(loadAllSeconds);
        state.counters["plain_write_obj_per_s"] = perSecond(plainWriteSeconds);
        state.counters["plain_read_obj_per_s"] = perSecond(plainReadSeconds);
        state.counters["save_time_vs_plain_write"] = saveSeconds / plainWriteSeconds;
        state.counters["reopen_load_time_vs_plain_read"] =
            (reopenSeconds + loadAllSeconds) / plainReadSeconds;
        state.counters["store_disk_bytes_per_payload_byte"] =
            static_cast<double>(storeDiskBytes) / static_cast<double>(payloadBytes);
        state.counters["store_file_bytes_per_payload_byte"] =
            static_cast<double>(storeFileBytes) / static_cast<double>(payloadBytes);
        state.counters["plain_disk_bytes_per_payload_byte"] =
            static_cast<double>(plainDiskBytes) / static_cast<double>(payloadBytes);
        state.counters["payload_MB"] = static_cast<double>(payloadBytes) / 1e6;
    }
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_DiskStorage_StoreSaveReopenLoadAll)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
