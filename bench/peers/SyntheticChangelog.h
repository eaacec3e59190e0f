#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BenchDataSet.h"

// A synthetic changelog of any size modelled on the real one: each record's body has as many
// words as the body of a randomly chosen real record, each word drawn from the real bodies'
// words (white-space separated, punctuation kept) with its real frequency, joined by spaces;
// package, version, distribution, urgency, author (name and e-mail together) and date are each
// taken from an independently chosen real record, so every value keeps its real frequency.
// Records are made on the fly from a fixed seed: every walk yields the same records, and
// memory holds only the real values, not the generated records.
class SyntheticChangelog : public BenchDataSet {
public:
    SyntheticChangelog(const std::vector<BenchRecord>& realRecords, uint32_t recordCount,
                       uint64_t seed);

    std::string name() const override { return "synthetic"; }
    uint32_t recordCount() const override { return recordCount_; }
    void forEachRecord(Visitor visitor) const override;

private:
    const std::vector<BenchRecord>& realRecords_;
    uint32_t recordCount_;
    uint64_t seed_;
    std::vector<std::string> words_;  // the distinct words of the real bodies
    // The index into words_ of every word of the real bodies, in text order: a uniform draw
    // from it draws a word with its real frequency.
    std::vector<uint32_t> wordOccurrences_;
    std::vector<uint32_t> bodyWordCounts_;  // words in each real body
};
