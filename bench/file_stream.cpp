// Writes and reads back 100 MB of mixed strings and ID vectors through ZELFileStream (4096-byte
// buffer, as for data files), next to plain stdio writing and reading the same bytes: record by
// record (fwrite / fread per record) and in one call. Compare the per-byte rates of the
// ZELFileStream and Stdio rows of the same run.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELFileStream.h"

namespace {

constexpr uint64_t kTotalBytes = 100ull << 20;
constexpr uint64_t kBufferSize = 4096;

// A pool of records cycled through until 100 MB are written: strings of 1 to 60 code units
// and vectors of 1 to 200 IDs, alternating.
struct Workload {
    std::vector<ZELString> strings;
    std::vector<std::shared_ptr<ZELIDVector>> vectors;
    uint64_t recordCount = 0;          // records making up kTotalBytes
    ZELData encoded;                   // every record, encoded
    std::vector<uint64_t> recordEnds;  // end offset of each record in `encoded`

    Workload() {
        std::mt19937 random(42);
        for (int index = 0; index < 1024; ++index) {
            ZELString string;
            for (uint32_t unit = 0, units = 1 + random() % 60; unit < units; ++unit) {
                string.push_back(static_cast<char16_t>('a' + random() % 26));
            }
            strings.push_back(std::move(string));
            std::vector<ZELID> ids;
            for (uint32_t id = 0, count = 1 + random() % 200; id < count; ++id) {
                ids.push_back((ids.empty() ? 0 : ids.back()) + 1 + random() % 5000);
            }
            vectors.push_back(ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size())));
        }
        auto stream = ZELDataWriteStream::stream();
        while (stream->mutableData()->size() < kTotalBytes) {
            writeRecord(*stream, recordCount++);
            recordEnds.push_back(stream->mutableData()->size());
        }
        encoded = std::move(*stream->mutableData());
    }

    bool writeRecord(ZELStream& stream, uint64_t record) const {
        if (record % 2 == 0) return stream.writeZELString(strings[record / 2 % strings.size()]);
        return stream.writeZELIDVector(*vectors[record / 2 % vectors.size()]);
    }

    bool readRecord(ZELStream& stream, uint64_t record) const {
        if (record % 2 == 0) return stream.newReadZELString().has_value();
        return stream.newReadZELIDVector() != nullptr;
    }
};

const Workload& workload() {
    static const Workload instance;
    return instance;
}

std::filesystem::path benchFile() {
    return std::filesystem::temp_directory_path() /
           ("zel_bench_file_stream_" + std::to_string(getpid()) + ".data");
}

void writeWithZELFileStream(const Workload& load, const std::filesystem::path& path) {
    auto stream = ZELStream::streamForWritingURL(path, kBufferSize);
    stream->open();
    for (uint64_t record = 0; record < load.recordCount; ++record) load.writeRecord(*stream, record);
    if (!stream->closeAndGetError(nullptr)) std::abort();
}

void BM_ZELFileStream_Write(benchmark::State& state) {
    const Workload& load = workload();
    const auto path = benchFile();
    for (auto _ : state) writeWithZELFileStream(load, path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * load.encoded.size()));
    std::filesystem::remove(path);
}

void BM_ZELFileStream_Read(benchmark::State& state) {
    const Workload& load = workload();
    const auto path = benchFile();
    writeWithZELFileStream(load, path);
    for (auto _ : state) {
        auto stream = ZELStream::streamForReadingURL(path, kBufferSize);
        stream->open();
        for (uint64_t record = 0; record < load.recordCount; ++record) {
            if (!load.readRecord(*stream, record)) std::abort();
        }
        stream->close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * load.encoded.size()));
    std::filesystem::remove(path);
}

void writeWithStdio(const Workload& load, const std::filesystem::path& path, bool perRecord) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (perRecord) {
        uint64_t start = 0;
        for (uint64_t end : load.recordEnds) {
            std::fwrite(load.encoded.data() + start, 1, end - start, file);
            start = end;
        }
    } else {
        std::fwrite(load.encoded.data(), 1, load.encoded.size(), file);
    }
    if (std::fclose(file) != 0) std::abort();
}

void BM_Stdio_Write(benchmark::State& state) {
    const Workload& load = workload();
    const auto path = benchFile();
    for (auto _ : state) writeWithStdio(load, path, state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * load.encoded.size()));
    std::filesystem::remove(path);
}

void BM_Stdio_Read(benchmark::State& state) {
    const Workload& load = workload();
    const auto path = benchFile();
    writeWithStdio(load, path, false);
    ZELData buffer(load.encoded.size());
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "r");
        if (state.range(0)) {
            uint64_t start = 0;
            for (uint64_t end : load.recordEnds) {
                if (std::fread(buffer.data() + start, 1, end - start, file) != end - start) std::abort();
                start = end;
            }
        } else if (std::fread(buffer.data(), 1, buffer.size(), file) != buffer.size()) {
            std::abort();
        }
        std::fclose(file);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * load.encoded.size()));
    std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(BM_ZELFileStream_Write)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stdio_Write)->ArgName("perRecord")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZELFileStream_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stdio_Read)->ArgName("perRecord")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
