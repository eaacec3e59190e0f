#include "PlainBodyWords.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string_view>

#include "zel/platform/ZELString.h"

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Characters that end a word in every engine and join nothing.
bool isSeparator(char c) {
    return BenchIsSpace(c) ||
           std::string_view(",;()[]{}\"!?<>=*|`~^%$-").find(c) != std::string_view::npos;
}

// Characters that end a word unless a word character follows them.
bool isSoftSeparator(char c) {
    return c == '.' || c == ':' || c == '\'';
}

// Whether the word's neighbour at `at` (none when out of the chunk) and the character beyond
// it (`beyond`, none when out of the chunk) leave the word cut alike everywhere.
bool isPlainNeighbour(std::string_view chunk, ptrdiff_t at, ptrdiff_t beyond) {
    const auto inside = [&](ptrdiff_t index) {
        return index >= 0 && index < static_cast<ptrdiff_t>(chunk.size());
    };
    if (!inside(at) || isSeparator(chunk[at])) return true;
    if (!isSoftSeparator(chunk[at])) return false;
    return !inside(beyond) || isSeparator(chunk[beyond]);
}

// A chunk as another tokenizer reads it, with the characters that differ from the chunk's
// marked: only words holding a marked character are words of that reading alone.
struct Reading {
    std::string text;
    std::vector<bool> altered;  // by index into text

    void append(char c, bool isAltered) {
        text += c;
        altered.push_back(isAltered);
    }
};

// The chunk as unicode61 with remove_diacritics reads it, at most: every non-ASCII character
// in NFD without nonspacing marks ("é" gives a marked "e"), what else remains non-ASCII as a
// separator.
Reading withoutDiacritics(std::string_view chunk) {
    const ZELString text = ZELStringFromUTF8(chunk);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* decomposition = unorm2_getNFDInstance(&status);
    Reading reading;
    for (int32_t index = 0, length = static_cast<int32_t>(text.size()); index < length;) {
        UChar32 character;
        U16_NEXT(text.data(), index, length, character);
        if (character < 0x80) {
            reading.append(static_cast<char>(character), false);
            continue;
        }
        UChar parts[16];
        status = U_ZERO_ERROR;
        int32_t count = unorm2_getDecomposition(decomposition, character, parts, 16, &status);
        if (U_FAILURE(status) || count < 0) {
            parts[0] = u' ';  // no decomposition: the character stays non-ASCII
            count = 1;
        }
        for (int32_t part = 0; part < count; ++part) {
            if (parts[part] < 0x80) {
                reading.append(static_cast<char>(parts[part]), true);
            } else if (u_charType(parts[part]) != U_NON_SPACING_MARK) {
                reading.append(' ', false);
            }
        }
    }
    return reading;
}

// The chunk as Xapian's term generator reads acronyms: a "." between two letters left out,
// the letter after it marked ("H.J." gives "HJ.").
Reading withAcronymsJoined(std::string_view chunk) {
    Reading reading;
    bool joins = false;
    for (size_t index = 0; index < chunk.size(); ++index) {
        const bool isJoint = chunk[index] == '.' && index > 0 && index + 1 < chunk.size() &&
                             isLetter(chunk[index - 1]) && isLetter(chunk[index + 1]);
        if (isJoint) {
            joins = true;
            continue;
        }
        reading.append(chunk[index], joins);
        joins = false;
    }
    return reading;
}

// Calls `visit(first, last)` for every run of ASCII letters in `text`.
template <typename Visitor>
void forEachLetterRun(std::string_view text, Visitor&& visit) {
    for (size_t first = 0; first < text.size();) {
        if (!isLetter(text[first])) {
            ++first;
            continue;
        }
        size_t last = first;
        while (last < text.size() && isLetter(text[last])) ++last;
        visit(first, last);
        first = last;
    }
}

}  // namespace

PlainBodyWords::PlainBodyWords(const BenchDataSet& dataSet) {
    dataSet.forEachRecord(
        [&](const BenchRecord& record, uint32_t position) { scanBody(record.body, position); });
    for (const auto& [word, stats] : stats_) {
        if (stats.isPlain) words_.emplace_back(word, stats.recordCount);
    }
    std::sort(words_.begin(), words_.end());
    stats_.clear();
}

void PlainBodyWords::scanBody(const std::string& body, uint32_t position) {
    std::string word;
    const auto lowercase = [&](std::string_view letters) -> const std::string& {
        word.assign(letters);
        for (char& c : word) c = static_cast<char>(c | 0x20);
        return word;
    };
    BenchForEachSpaceSeparatedChunk(body, [&](std::string_view chunk) {
        const bool isURL = chunk.find("://") != std::string_view::npos;
        forEachLetterRun(chunk, [&](size_t first, size_t last) {
            WordStats& stats = stats_[lowercase(chunk.substr(first, last - first))];
            const auto before = static_cast<ptrdiff_t>(first) - 1;
            const auto after = static_cast<ptrdiff_t>(last);
            if (isURL || !isPlainNeighbour(chunk, before, before - 1) ||
                !isPlainNeighbour(chunk, after, after + 1)) {
                stats.isPlain = false;
            }
            if (stats.lastPosition != position) {
                stats.lastPosition = position;
                ++stats.recordCount;
            }
        });
        // Other engines' readings of the chunk: unicode61 removes diacritics ("bícha" is "bicha"
        // there, not in ZEL or Xapian); Xapian joins the letters of an acronym ("H.J." is "hj").
        std::vector<Reading> readings;
        if (std::any_of(chunk.begin(), chunk.end(), [](char c) { return (c & 0x80) != 0; })) {
            readings.push_back(withoutDiacritics(chunk));
        }
        if (chunk.find('.') != std::string_view::npos) {
            readings.push_back(withAcronymsJoined(chunk));
        }
        for (const Reading& reading : readings) {
            forEachLetterRun(reading.text, [&](size_t first, size_t last) {
                const auto begin = reading.altered.begin();
                if (std::find(begin + first, begin + last, true) == begin + last) return;
                stats_[lowercase(std::string_view(reading.text).substr(first, last - first))]
                    .isPlain = false;
            });
        }
    });
}

std::vector<std::string> PlainBodyWords::wordsCarriedByAtLeast(uint32_t minimum) const {
    std::vector<std::string> chosen;
    for (const auto& [word, count] : words_) {
        if (count >= minimum) chosen.push_back(word);
    }
    return chosen;
}

std::string PlainBodyWords::wordCarriedByNearly(uint32_t count) const {
    std::string best;
    int64_t bestDistance = INT64_MAX;
    for (const auto& [word, carried] : words_) {
        const int64_t distance =
            std::llabs(static_cast<int64_t>(carried) - static_cast<int64_t>(count));
        if (distance < bestDistance) {
            best = word;
            bestDistance = distance;
        }
    }
    return best;
}

uint32_t PlainBodyWords::recordCountOfWord(const std::string& word) const {
    const auto found =
        std::lower_bound(words_.begin(), words_.end(), std::make_pair(word, uint32_t{0}));
    return found != words_.end() && found->first == word ? found->second : 0;
}

std::vector<std::string> PlainBodyWords::prefixesOfLength(size_t length, size_t limit,
                                                          uint64_t seed) const {
    std::vector<const std::string*> candidates;
    for (const auto& entry : words_) {
        if (entry.first.size() >= length) candidates.push_back(&entry.first);
    }
    std::mt19937_64 random(seed);
    std::shuffle(candidates.begin(), candidates.end(), random);
    std::vector<std::string> prefixes;
    std::set<std::string> seen;
    for (const std::string* word : candidates) {
        if (prefixes.size() == limit) break;
        std::string prefix = word->substr(0, length);
        if (seen.insert(prefix).second) prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}
