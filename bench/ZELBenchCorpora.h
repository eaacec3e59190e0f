#pragma once

// The benchmark corpora shared by the database, query and completion benchmarks: this machine's
// Debian changelog entries as records (package, version, distribution, urgency, author name
// and e-mail, date, body) with the database schema they are indexed with, and a synthetic
// database of many short titles.
// ZEL_BENCH_CHANGELOG_TEXT may name a changelog file (plain or gzip) to use instead of this
// machine's.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ZELChangelogReader.h"
#include "ZELToolChangelogImport.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

// This machine's changelog entries, read once per process by the zel tool's reader (the one
// `zel import-changelogs` uses): the file named by ZEL_BENCH_CHANGELOG_TEXT, else every
// /usr/share/doc/*/changelog.Debian.gz in path order. Empty when no changelog is found.
inline const std::vector<ZELValue::Dictionary>& ZELBench_ChangelogEntries() {
    static const std::vector<ZELValue::Dictionary> entries = [] {
        std::vector<std::string> files = ZELToolInstalledChangelogFiles();
        if (const char* path = std::getenv("ZEL_BENCH_CHANGELOG_TEXT")) files = {path};
        std::vector<ZELValue::Dictionary> read;
        for (const std::string& file : files) {
            std::string unreadable;  // such a file is passed over, as the tool's import does
            std::optional<std::vector<ZELValue::Dictionary>> fileEntries =
                ZELReadChangelogFile(file, nullptr, &unreadable);
            if (!fileEntries) continue;
            read.insert(read.end(), std::make_move_iterator(fileEntries->begin()),
                        std::make_move_iterator(fileEntries->end()));
        }
        return read;
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
