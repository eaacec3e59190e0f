#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchDataSet.h"

// The body words that ZEL's word tokenizer, FTS5's unicode61 and Xapian's term generator are
// sure to cut alike, with the number of records carrying each: words of ASCII letters
// (lowercased) every occurrence of which stands between white space and plain punctuation.
// A word is left out when any occurrence touches a digit, a non-ASCII character, "_", "/",
// "@", "&", "+", "#" or the like; when "." ":" or "'" joins it to a further word character
// (ICU keeps "e.g" and "don't" whole where unicode61 splits them); when it stands in a
// white-space-separated chunk holding "://" (ZEL skips URLs); or when another engine's reading
// of a chunk makes it of other characters (unicode61 removes diacritics: "bícha" is "bicha";
// Xapian joins acronyms: "H.J." is "hj"). Queries over these words must give every engine the
// same records.
class PlainBodyWords {
public:
    // Scans the bodies of every record once.
    explicit PlainBodyWords(const BenchDataSet& dataSet);

    // The words carried by at least `minimum` records, in byte order.
    std::vector<std::string> wordsCarriedByAtLeast(uint32_t minimum) const;
    // The word whose record count is nearest to `count` (the first in byte order on a tie);
    // empty when there are no words.
    std::string wordCarriedByNearly(uint32_t count) const;
    // The number of records carrying `word`; 0 for a word that is not plain.
    uint32_t recordCountOfWord(const std::string& word) const;
    // The distinct beginnings of `length` letters of the words, as many as `limit`, taken
    // from words in a random order fixed by `seed`.
    std::vector<std::string> prefixesOfLength(size_t length, size_t limit, uint64_t seed) const;
    size_t wordCount() const { return words_.size(); }

private:
    struct WordStats {
        uint32_t recordCount = 0;
        uint32_t lastPosition = UINT32_MAX;  // the last record counted, to count each record once
        bool isPlain = true;
    };
    void scanBody(const std::string& body, uint32_t position);

    std::unordered_map<std::string, WordStats> stats_;
    // The plain words and their record counts, sorted by word.
    std::vector<std::pair<std::string, uint32_t>> words_;
};
