#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BenchRecord.h"
#include "zel/idvector/ZELFunctionRef.h"

// The records that every engine indexes, always the same ones in the same order: a record's
// position in this order is its identity when the engines' answers are compared.
class BenchDataSet {
public:
    using Visitor = ZELFunctionRef<void(const BenchRecord& record, uint32_t position)>;

    virtual ~BenchDataSet() = default;
    // "changelog" or "synthetic".
    virtual std::string name() const = 0;
    virtual uint32_t recordCount() const = 0;
    // Calls `visitor` with every record in position order. The record lives only during the call.
    virtual void forEachRecord(Visitor visitor) const = 0;
};

// This machine's Debian changelog entries (ZELBenchCorpora.h), held in memory.
class ChangelogDataSet : public BenchDataSet {
public:
    // Reads the entries; empty when no changelog text is found.
    ChangelogDataSet();

    std::string name() const override { return "changelog"; }
    uint32_t recordCount() const override { return static_cast<uint32_t>(records_.size()); }
    void forEachRecord(Visitor visitor) const override;
    const std::vector<BenchRecord>& records() const { return records_; }

private:
    std::vector<BenchRecord> records_;
};
