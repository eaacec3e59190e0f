#include "SyntheticChangelog.h"

#include <random>
#include <string_view>
#include <unordered_map>

SyntheticChangelog::SyntheticChangelog(const std::vector<BenchRecord>& realRecords,
                                       uint32_t recordCount, uint64_t seed)
    : realRecords_(realRecords), recordCount_(realRecords.empty() ? 0 : recordCount), seed_(seed) {
    std::unordered_map<std::string_view, uint32_t> indexOfWord;
    for (const BenchRecord& record : realRecords_) {
        const std::string_view body = record.body;
        uint32_t count = 0;
        BenchForEachSpaceSeparatedChunk(body, [&](std::string_view word) {
            auto [found, isNew] =
                indexOfWord.try_emplace(word, static_cast<uint32_t>(words_.size()));
            if (isNew) words_.emplace_back(word);
            wordOccurrences_.push_back(found->second);
            ++count;
        });
        bodyWordCounts_.push_back(count);
    }
}

void SyntheticChangelog::forEachRecord(Visitor visitor) const {
    std::mt19937_64 random(seed_);
    const uint64_t realCount = realRecords_.size();
    auto anyReal = [&]() -> const BenchRecord& { return realRecords_[random() % realCount]; };
    BenchRecord record;
    for (uint32_t position = 0; position < recordCount_; ++position) {
        record.package = anyReal().package;
        record.version = anyReal().version;
        record.distribution = anyReal().distribution;
        record.urgency = anyReal().urgency;
        const BenchRecord& author = anyReal();
        record.authorName = author.authorName;
        record.authorEmail = author.authorEmail;
        const BenchRecord& dated = anyReal();
        record.hasDate = dated.hasDate;
        record.date = dated.date;
        record.year = dated.year;
        record.month = dated.month;
        record.day = dated.day;
        record.weekday = dated.weekday;
        record.body.clear();
        const uint32_t wordCount = bodyWordCounts_[random() % realCount];
        for (uint32_t index = 0; index < wordCount && !wordOccurrences_.empty(); ++index) {
            if (index) record.body += ' ';
            record.body += words_[wordOccurrences_[random() % wordOccurrences_.size()]];
        }
        visitor(record, position);
    }
}
