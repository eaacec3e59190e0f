#pragma once

#include <string>
#include <string_view>

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

// The white space that separates the words of a body as the benchmark's own readings take them.
inline bool BenchIsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Calls `visit(chunk)` for each run of `text` between white space, in order.
template <typename Visit>
void BenchForEachSpaceSeparatedChunk(std::string_view text, Visit visit) {
    for (size_t start = 0; start < text.size();) {
        if (BenchIsSpace(text[start])) {
            ++start;
            continue;
        }
        size_t end = start;
        while (end < text.size() && !BenchIsSpace(text[end])) ++end;
        visit(text.substr(start, end - start));
        start = end;
    }
}
