#pragma once

// The benchmark corpora shared by the database, query and completion benchmarks: this machine's
// Debian changelog entries as records (package, version, distribution, urgency, author name
// and e-mail, date, body) with the database schema they are indexed with, and a synthetic
// database of many short titles.
// ZEL_BENCH_CHANGELOG_TEXT may name a file of uncompressed changelog text to use instead of
// `zcat /usr/share/doc/*/changelog.Debian.gz`.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

inline std::vector<ZELValue::Dictionary> ZELBench_ParseChangelogEntries(std::istream& input) {
    static const std::regex header(R"(^(\S+) \(([^)]+)\) ([^;]+); urgency=(\S+))");
    static const std::regex trailer(R"(^ -- (.*) <([^>]*)>  (.*)$)");
    std::vector<ZELValue::Dictionary> entries;
    ZELValue::Dictionary entry;
    std::string body;
    std::string line;
    std::smatch match;
    while (std::getline(input, line)) {
        if (std::regex_search(line, match, header)) {
            entry.clear();
            body.clear();
            entry[u"package"] = ZELValue::fromUTF8(match[1].str());
            entry[u"version"] = ZELValue::fromUTF8(match[2].str());
            entry[u"distribution"] = ZELValue::fromUTF8(match[3].str());
            entry[u"urgency"] = ZELValue::fromUTF8(match[4].str());
        } else if (!entry.empty() && std::regex_match(line, match, trailer)) {
            entry[u"authorName"] = ZELValue::fromUTF8(match[1].str());
            entry[u"authorEmail"] = ZELValue::fromUTF8(match[2].str());
            std::tm parts{};
            if (strptime(match[3].str().c_str(), "%a, %d %b %Y %H:%M:%S %z", &parts)) {
                const long offset = parts.tm_gmtoff;
                entry[u"date"] = ZELValue(ZELDate{static_cast<double>(timegm(&parts) - offset)});
            }
            entry[u"body"] = ZELValue::fromUTF8(body);
            entries.push_back(std::move(entry));
            entry.clear();
        } else if (!entry.empty()) {
            body += line;
            body += '\n';
        }
    }
    return entries;
}

// This machine's changelogs as one text (`zcat /usr/share/doc/*/changelog.Debian.gz`); empty
// when there are none.
inline std::string ZELBench_MachineChangelogText() {
    std::string text;
    if (FILE* pipe = popen("zcat /usr/share/doc/*/changelog.Debian.gz 2>/dev/null", "r")) {
        char buffer[1 << 16];
        size_t count;
        while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, count);
        pclose(pipe);
    }
    return text;
}

// The entries, read once per process; empty when no changelog text is found.
inline const std::vector<ZELValue::Dictionary>& ZELBench_ChangelogEntries() {
    static const std::vector<ZELValue::Dictionary> entries = [] {
        if (const char* path = std::getenv("ZEL_BENCH_CHANGELOG_TEXT")) {
            std::ifstream file(path);
            return ZELBench_ParseChangelogEntries(file);
        }
        std::istringstream stream(ZELBench_MachineChangelogText());
        return ZELBench_ParseChangelogEntries(stream);
    }();
    return entries;
}

template <typename T>
void ZELBench_AddAspect(ZELDatabase& db, const char16_t* identifier, const char* getter,
                        bool detectsDuplicates = false) {
    auto aspect = db.ensureAspectExistsWithIdentifier(identifier);
    aspect->setAspectValueTokenizer(ZELTokenizer::tokenizerWithClientObjectGetter<T>(getter, nullptr));
    aspect->setIsUsedToDetectDuplicates(detectsDuplicates);
}

// A scratch folder for a benchmark database: under /dev/shm when TMPDIR is unset (the disk of
// a shared machine makes file creation slow and noisy), else under the temporary folder.
inline std::filesystem::path ZELBench_ScratchFolder(const std::string& name) {
    const std::filesystem::path base = (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    return base / ("zel-bench-" + name + "-" + std::to_string(getpid()));
}

// Opens (or creates) the changelog database in `folder` with its eleven aspects: identity for
// package, version, distribution, urgency and e-mail; words for author and body; year, month,
// day and weekday for the date. With `detectsDuplicates`, package and version detect
// duplicates, so the entries that binary packages of one source repeat are stored once;
// without, every entry is stored.
inline std::shared_ptr<ZELDatabase> ZELBench_OpenChangelogDatabase(
    const std::filesystem::path& folder, bool detectsDuplicates = true) {
    ZELRecordItem::registerItemClass();
    auto db = ZELDatabase::databaseWithIdentifier("bench.changelogs", nullptr, folder);
    if (!db->bootstrapFromDisk()) return nullptr;
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"package", "package", detectsDuplicates);
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"version", "version", detectsDuplicates);
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"distribution", "distribution");
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"urgency", "urgency");
    ZELBench_AddAspect<ZELWordTokenizer>(*db, u"author", "authorName");
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"email", "authorEmail");
    ZELBench_AddAspect<ZELDateYearTokenizer>(*db, u"year", "date");
    ZELBench_AddAspect<ZELDateMonthTokenizer>(*db, u"month", "date");
    ZELBench_AddAspect<ZELDateDayTokenizer>(*db, u"day", "date");
    ZELBench_AddAspect<ZELDateWeekdayTokenizer>(*db, u"weekday", "date");
    ZELBench_AddAspect<ZELWordTokenizer>(*db, u"body", "body");
    return db;
}

// Adds every entry as a record item in one batch.
inline void ZELBench_AddChangelogEntries(ZELDatabase& db) {
    db.beginItemChanges();
    for (const auto& entry : ZELBench_ChangelogEntries()) {
        bool wasAdded = false;
        db.addItem(ZELRecordItem::itemWithValues(entry), &wasAdded);
    }
    db.endItemChanges();
}

// A synthetic database in `folder` with `itemCount` records: titles of 3 to 6 words drawn with
// a Zipf-like skew from 60,000 made-up words (aspect "title", split at white space), plus one
// of 500 tags (aspect "tag"). The same seed makes the same database.
inline std::shared_ptr<ZELDatabase> ZELBench_MakeSyntheticDatabase(const std::filesystem::path& folder,
                                                                  long itemCount) {
    ZELRecordItem::registerItemClass();
    auto db = ZELDatabase::databaseWithIdentifier("bench.synthetic", nullptr, folder);
    if (!db->bootstrapFromDisk()) return nullptr;
    ZELBench_AddAspect<ZELWhitespaceTokenizer>(*db, u"title", "title");
    ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"tag", "tag");

    std::mt19937 random(42);
    std::vector<std::string> words;
    std::set<std::string> seen;
    // Letter frequencies roughly as in English text, so that prefixes are unevenly full.
    const std::string letters = "eeeeeeeeeeeettttttttaaaaaaaooooooiiiiiinnnnnnsssssshhhhhrrrrrddddlllcccuummwwffggyyppbbvkjxqz";
    while (words.size() < 60000) {
        std::string word;
        const int length = 3 + static_cast<int>(random() % 8);
        for (int index = 0; index < length; ++index) word += letters[random() % letters.size()];
        if (seen.insert(word).second) words.push_back(word);
    }
    // Zipf-like: index = n * u^3 favours the first words.
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pickWord = [&] {
        const double u = unit(random);
        return words[static_cast<size_t>(u * u * u * static_cast<double>(words.size() - 1))];
    };
    db->beginItemChanges();
    for (long item = 0; item < itemCount; ++item) {
        std::string title;
        const int count = 3 + static_cast<int>(random() % 4);
        for (int index = 0; index < count; ++index) title += pickWord() + " ";
        ZELValue::Dictionary values;
        values[u"title"] = ZELValue::fromUTF8(title);
        values[u"tag"] = ZELValue::fromUTF8("tag" + std::to_string(random() % 500));
        values[u"serial"] = ZELValue(static_cast<int64_t>(item));
        bool wasAdded = false;
        db->addItem(ZELRecordItem::itemWithValues(std::move(values)), &wasAdded);
    }
    db->endItemChanges();
    return db;
}
