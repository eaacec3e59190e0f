#include "zel/stream/ZELMemoryMetricsGatherer.h"

#include <algorithm>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELDefs.h"

namespace {

constexpr uint64_t kKilobyte = 1024;
constexpr uint64_t kMegabyte = 1024 * 1024;
constexpr uint64_t kGigabyte = 1024 * 1024 * 1024;

bool isValidMetricType(ZELMemoryMetricType type) {
    return type >= 0 && type < ZELMemoryMetricTypeCount;
}

}  // namespace

std::string ZELPrettyDivisionResult(uint64_t n, uint64_t d) {
    if (d == 0) return "0";
    const uint64_t quotient = n / d;
    if (quotient > 9) return ZELStringWithFormat("%llu", static_cast<unsigned long long>(quotient));
    // The remainder is below d, but ten times it may not fit in 64 bits.
    const unsigned __int128 scaledRemainder = static_cast<unsigned __int128>(n - quotient * d) * 10;
    const auto tenths = static_cast<uint64_t>(scaledRemainder / d);
    if (tenths > 0) {
        return ZELStringWithFormat("%llu.%llu", static_cast<unsigned long long>(quotient),
                                   static_cast<unsigned long long>(tenths));
    }
    return ZELStringWithFormat("%llu", static_cast<unsigned long long>(quotient));
}

ZELMemoryMetricsGatherer ZELMemoryMetricsGatherer::gathererTotaledFor(
    const ZELMemoryMetricsProvider& provider) {
    ZELMemoryMetricsGatherer gatherer;
    provider.gatherMemoryMetrics(gatherer);
    return gatherer;
}

std::string ZELMemoryMetricsGatherer::descriptionForObject(
    const ZELMemoryMetricsProvider& provider) {
    return gathererTotaledFor(provider).description();
}

void ZELMemoryMetricsGatherer::addByteCount(uint64_t byteCount, ZELMemoryMetricType type) {
    ZELAssert(isValidMetricType(type));
    if (!isValidMetricType(type)) return;
    totals_[type] += byteCount;
}

uint64_t ZELMemoryMetricsGatherer::totalByteCountForMetricType(ZELMemoryMetricType type) const {
    return isValidMetricType(type) ? totals_[type] : 0;
}

void ZELMemoryMetricsGatherer::addByteCount(uint64_t byteCount, ZELMemoryMetricType type,
                                            uint64_t blockSize, uint64_t fileBlockSizeLimit) {
    ZELAssert(isValidMetricType(type));
    if (!isValidMetricType(type)) return;
    if (byteCount == 0) return;
    if (blockSize > 0) blockInfoByBlockSize_[blockSize].byteCounts[type] += byteCount;
    if (fileBlockSizeLimit > 0)
        blockInfoByFileSize_[fileBlockSizeLimit].byteCounts[type] += byteCount;
}

void ZELMemoryMetricsGatherer::incrementUseCount(uint64_t count, uint64_t blockSize,
                                                 uint64_t fileBlockSizeLimit) {
    if (blockSize > 0) blockInfoByBlockSize_[blockSize].useCount += count;
    if (fileBlockSizeLimit > 0) blockInfoByFileSize_[fileBlockSizeLimit].useCount += count;
}

void ZELMemoryMetricsGatherer::reset() {
    totals_.fill(0);
    resetAndFreeBuckets();
}

void ZELMemoryMetricsGatherer::resetAndFreeBuckets() {
    blockInfoByBlockSize_.clear();
    blockInfoByFileSize_.clear();
}

std::string ZELMemoryMetricsGatherer::description() const {
    std::string tail;
    if (totals_[ZELMemoryMetricTypeDisk] != 0) {
        tail = ", " + stringDescribingByteCount(totals_[ZELMemoryMetricTypeDisk]) + " disk";
        const uint64_t free = totals_[ZELMemoryMetricTypeFree];
        const uint64_t fragmented = totals_[ZELMemoryMetricTypeFragmented];
        const uint64_t lost = totals_[ZELMemoryMetricTypeLost];
        if (free != 0 || fragmented != 0 || lost != 0) {
            tail += " (";
            if (free != 0) tail += "free " + stringDescribingByteCount(free) + ", ";
            if (fragmented != 0) tail += "frag " + stringDescribingByteCount(fragmented) + ", ";
            if (lost != 0) tail += "lost " + stringDescribingByteCount(lost) + ", ";
            tail += ")";
        }
    }
    return stringDescribingByteCount(totals_[ZELMemoryMetricTypeRAM]) + " RAM" + tail;
}

std::string ZELMemoryMetricsGatherer::tableForBuckets(const BlockInfoMap& buckets,
                                                      const char* label) {
    auto rowFor = [](std::string head, const ZELBlockMemoryInfo& info) {
        return std::vector<std::string>{
            std::move(head),
            ZELStringWithFormat("%llu objects,", static_cast<unsigned long long>(info.useCount)),
            stringDescribingByteCount(info.byteCounts[ZELMemoryMetricTypeUsed]) + " used,",
            stringDescribingByteCount(info.byteCounts[ZELMemoryMetricTypeFree]) + " free,",
            stringDescribingByteCount(info.byteCounts[ZELMemoryMetricTypeFragmented]) + " frag,",
            stringDescribingByteCount(info.byteCounts[ZELMemoryMetricTypeLost]) + " lost",
        };
    };
    std::vector<std::vector<std::string>> rows;
    ZELBlockMemoryInfo totals;
    for (const auto& [size, info] : buckets) {
        rows.push_back(rowFor(stringDescribingByteCount(size) + " " + label + ":", info));
        totals.useCount += info.useCount;
        for (int type = 0; type < ZELMemoryMetricTypeCount; ++type) {
            totals.byteCounts[type] += info.byteCounts[type];
        }
    }
    rows.push_back(rowFor(std::string(label) + " TOTALS:", totals));
    return prettyStringForRows(rows);
}

std::string ZELMemoryMetricsGatherer::descriptionForBlocks() const {
    return tableForBuckets(blockInfoByFileSize_, "file") + "--- blocks inside:\n" +
           tableForBuckets(blockInfoByBlockSize_, "blocks");
}

std::string ZELMemoryMetricsGatherer::stringDescribingByteCount(uint64_t byteCount) {
    if (byteCount == 0) return "0 K";
    if (byteCount < kKilobyte) {
        return ZELStringWithFormat("%llu bytes", static_cast<unsigned long long>(byteCount));
    }
    if (byteCount < kMegabyte) return ZELPrettyDivisionResult(byteCount, kKilobyte) + " K";
    if (byteCount < kGigabyte) return ZELPrettyDivisionResult(byteCount, kMegabyte) + " MB";
    // Whole gigabytes plus the fraction, in single precision.
    const float gigabytes =
        static_cast<float>(byteCount / kGigabyte) +
        static_cast<float>(byteCount % kGigabyte) / static_cast<float>(kGigabyte);
    return ZELStringWithFormat("%.1f GB", static_cast<double>(gigabytes));
}

std::string ZELMemoryMetricsGatherer::prettyStringForRows(
    const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> columnWidths;
    for (const auto& row : rows) {
        if (row.size() > columnWidths.size()) columnWidths.resize(row.size(), 0);
        for (size_t column = 0; column < row.size(); ++column) {
            columnWidths[column] = std::max(columnWidths[column], row[column].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        for (size_t column = 0; column < row.size(); ++column) {
            text += row[column];
            text.append(columnWidths[column] + 2 - row[column].size(), ' ');
        }
        text += "\n";
    }
    return text;
}
