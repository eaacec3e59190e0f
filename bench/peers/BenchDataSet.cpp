#include "BenchDataSet.h"

#include "ZELBenchCorpora.h"

ChangelogDataSet::ChangelogDataSet() {
    const auto& entries = ZELBench_ChangelogEntries();
    records_.reserve(entries.size());
    for (const auto& entry : entries) records_.push_back(BenchRecord::fromChangelogEntry(entry));
}

void ChangelogDataSet::forEachRecord(Visitor visitor) const {
    for (uint32_t position = 0; position < records_.size(); ++position) {
        visitor(records_[position], position);
    }
}
