#pragma once

#include <string>

#include "zel/platform/ZELValue.h"

// One changelog record as every engine of the comparison receives it: its texts in UTF-8 and
// its date, with the calendar components that ZEL's date tokenizers index (computed once, so
// that the peers index the very same year, month, day and weekday values).
struct BenchRecord {
    std::string package;
    std::string version;
    std::string distribution;
    std::string urgency;
    std::string authorName;
    std::string authorEmail;
    std::string body;
    bool hasDate = false;
    double date = 0;  // seconds since 1970; meaningful only with hasDate
    // The date tokenizers' tokens ("2023", "7", "14", "6" = Friday); empty without a date.
    std::string year;
    std::string month;
    std::string day;
    std::string weekday;

    // The record of a changelog entry (ZELBenchCorpora.h); missing values become empty texts.
    static BenchRecord fromChangelogEntry(const ZELValue::Dictionary& entry);

    // The entry ZEL indexes: the dictionary ZELBench_ParseChangelogEntries makes (every text,
    // and the date when there is one).
    ZELValue::Dictionary changelogEntry() const;
};
