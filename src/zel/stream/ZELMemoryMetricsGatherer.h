#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class ZELMemoryMetricsGatherer;

// What a byte count measures. Indexes into the totals and bucket arrays; never renumber.
enum ZELMemoryMetricType : int {
    ZELMemoryMetricTypeRAM = 0,
    ZELMemoryMetricTypeDisk = 1,
    ZELMemoryMetricTypeUsed = 2,
    ZELMemoryMetricTypeFragmented = 3,
    ZELMemoryMetricTypeFree = 4,
    ZELMemoryMetricTypeLost = 5,
};
inline constexpr int ZELMemoryMetricTypeCount = 6;

// Figures of one bucket of storage blocks (all blocks of one size, or all blocks in files of one
// block-size limit): how many objects it holds and its bytes by metric type.
struct ZELBlockMemoryInfo {
    uint64_t useCount = 0;
    std::array<uint64_t, ZELMemoryMetricTypeCount> byteCounts{};
};

// An object that can report its memory and disk use adds its own figures to a gatherer.
class ZELMemoryMetricsProvider {
  public:
    virtual ~ZELMemoryMetricsProvider() = default;
    virtual void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const = 0;
};

// "q" or "q.t": n / d with one decimal when the quotient is below 10 and the decimal is not 0
// (1536 / 1024 reads "1.5", 10240 / 1024 reads "10"). The decimal is truncated, not rounded.
// A divisor of 0 answers "0".
std::string ZELPrettyDivisionResult(uint64_t n, uint64_t d);

// Tallies the RAM, disk and block-level use that providers report, for diagnostics. A plain value
// owned by whoever made it; not thread-safe (one thread at a time).
class ZELMemoryMetricsGatherer {
  public:
    // Buckets keyed by a size in bytes. Ordered by ascending size, which is the row order of the
    // tables of descriptionForBlocks.
    using BlockInfoMap = std::map<uint64_t, ZELBlockMemoryInfo>;

    static ZELMemoryMetricsGatherer gatherer() { return ZELMemoryMetricsGatherer(); }
    // A new gatherer after `provider` added its figures.
    static ZELMemoryMetricsGatherer gathererTotaledFor(const ZELMemoryMetricsProvider& provider);
    // The text form (see description()) of gathererTotaledFor(provider).
    static std::string descriptionForObject(const ZELMemoryMetricsProvider& provider);

    void addByteCount(uint64_t byteCount, ZELMemoryMetricType type);
    void addByteCountToRAM(uint64_t byteCount) { addByteCount(byteCount, ZELMemoryMetricTypeRAM); }
    uint64_t totalByteCountForMetricType(ZELMemoryMetricType type) const;

    // Adds a non-zero `byteCount` of `type` to the bucket of blocks of `blockSize` (when not 0)
    // and to the bucket of files with block-size limit `fileBlockSizeLimit` (when not 0). The
    // totals are not touched.
    void addByteCount(uint64_t byteCount, ZELMemoryMetricType type, uint64_t blockSize,
                      uint64_t fileBlockSizeLimit);
    // Adds `count` objects to the same buckets.
    void incrementUseCount(uint64_t count, uint64_t blockSize, uint64_t fileBlockSizeLimit);

    // Zeroes the totals and drops the buckets.
    void reset();
    // Drops the buckets only.
    void resetAndFreeBuckets();

    const BlockInfoMap& blockInfoByBlockSize() const { return blockInfoByBlockSize_; }
    const BlockInfoMap& blockInfoByFileSize() const { return blockInfoByFileSize_; }

    // "<RAM> RAM", followed when there is disk use by ", <disk> disk" and, when any of free,
    // fragmented or lost is not 0, by " (free <n>, frag <n>, lost <n>, )" with the non-zero ones.
    std::string description() const;

    // The table of the by-file-size buckets labelled "file", "--- blocks inside:\n", then the
    // table of the by-block-size buckets labelled "blocks". Each table has one row per bucket,
    // "<size> <label>:", "<n> objects,", "<used> used,", "<free> free,", "<frag> frag,",
    // "<lost> lost", and a closing "<label> TOTALS:" row with the column sums.
    std::string descriptionForBlocks() const;

    // The byte-count text: "0 K"; "<n> bytes" below 1 K; "<x> K" below 1 MB; "<x> MB" below
    // 1 GB (x by ZELPrettyDivisionResult); "<x.y> GB" from 1 GB on.
    static std::string stringDescribingByteCount(uint64_t byteCount);

    // Lays out rows of cells as a text table: every cell is followed by spaces up to its
    // column's width (the widest cell of the column) plus two, every row by "\n".
    static std::string prettyStringForRows(const std::vector<std::vector<std::string>>& rows);

  private:
    static std::string tableForBuckets(const BlockInfoMap& buckets, const char* label);

    std::array<uint64_t, ZELMemoryMetricTypeCount> totals_{};
    BlockInfoMap blockInfoByBlockSize_;
    BlockInfoMap blockInfoByFileSize_;
};
