// Indexes this machine's Debian changelog entries (one record per entry: package, version,
// distribution, urgency, author name and e-mail, date, body) into a database of record items,
// saves it, and reopens it; reports items per second, bytes on disk and peak memory.
// ZEL_BENCH_CHANGELOG_TEXT may name a file of uncompressed changelog text to use instead of
// `zcat /usr/share/doc/*/changelog.Debian.gz`; without either the benchmark is skipped.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

std::vector<ZELValue::Dictionary> parseChangelogEntries(std::istream& input) {
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

const std::vector<ZELValue::Dictionary>& changelogEntries() {
    static const std::vector<ZELValue::Dictionary> entries = [] {
        if (const char* path = std::getenv("ZEL_BENCH_CHANGELOG_TEXT")) {
            std::ifstream file(path);
            return parseChangelogEntries(file);
        }
        std::string text;
        if (FILE* pipe = popen("zcat /usr/share/doc/*/changelog.Debian.gz 2>/dev/null", "r")) {
            char buffer[1 << 16];
            size_t count;
            while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, count);
            pclose(pipe);
        }
        std::istringstream stream(text);
        return parseChangelogEntries(stream);
    }();
    return entries;
}

template <typename T>
void addAspect(ZELDatabase& db, const char16_t* identifier, const char* getter,
               bool detectsDuplicates = false) {
    auto aspect = db.ensureAspectExistsWithIdentifier(identifier);
    aspect->setAspectValueTokenizer(ZELTokenizer::tokenizerWithClientObjectGetter<T>(getter, nullptr));
    aspect->setIsUsedToDetectDuplicates(detectsDuplicates);
}

std::shared_ptr<ZELDatabase> openChangelogDatabase(const std::filesystem::path& folder) {
    auto db = ZELDatabase::databaseWithIdentifier("bench.changelogs", nullptr, folder);
    if (!db->bootstrapFromDisk()) return nullptr;
    addAspect<ZELIdentityValueTokenizer>(*db, u"package", "package", true);
    addAspect<ZELIdentityValueTokenizer>(*db, u"version", "version", true);
    addAspect<ZELIdentityValueTokenizer>(*db, u"distribution", "distribution");
    addAspect<ZELIdentityValueTokenizer>(*db, u"urgency", "urgency");
    addAspect<ZELWordTokenizer>(*db, u"author", "authorName");
    addAspect<ZELIdentityValueTokenizer>(*db, u"email", "authorEmail");
    addAspect<ZELDateYearTokenizer>(*db, u"year", "date");
    addAspect<ZELDateMonthTokenizer>(*db, u"month", "date");
    addAspect<ZELDateDayTokenizer>(*db, u"day", "date");
    addAspect<ZELDateWeekdayTokenizer>(*db, u"weekday", "date");
    addAspect<ZELWordTokenizer>(*db, u"body", "body");
    return db;
}

double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void BM_IndexChangelogEntriesSaveAndReopen(benchmark::State& state) {
    const auto& entries = changelogEntries();
    if (entries.empty()) {
        state.SkipWithError("no changelog text found (set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    ZELRecordItem::registerItemClass();
    const auto folder = std::filesystem::temp_directory_path() /
                        ("zel-bench-database-" + std::to_string(getpid()));
    uint32_t stored = 0;
    double indexSeconds = 0, saveSeconds = 0, reopenSeconds = 0;
    uint64_t bytesOnDisk = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(folder);
        auto db = openChangelogDatabase(folder);
        if (!db) {
            state.SkipWithError("could not open the database");
            return;
        }
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        db->beginItemChanges();
        for (const auto& entry : entries) {
            bool wasAdded = false;
            db->addItem(ZELRecordItem::itemWithValues(entry), &wasAdded);
        }
        db->endItemChanges();
        const auto indexed = Clock::now();
        if (!db->ensureSerialized()) state.SkipWithError("save failed");
        const auto saved = Clock::now();
        stored = db->itemCount();
        db->invalidate();
        db.reset();

        auto reopened = openChangelogDatabase(folder);
        const bool found = reopened && reopened->aspectWithIdentifier(u"package")
                                               ->aspectBitIDForNormalizedValue(u"bash", nullptr, nullptr) != 0;
        const auto reopenedAt = Clock::now();
        benchmark::DoNotOptimize(found);
        reopened->invalidate();

        indexSeconds = std::chrono::duration<double>(indexed - start).count();
        saveSeconds = std::chrono::duration<double>(saved - indexed).count();
        reopenSeconds = std::chrono::duration<double>(reopenedAt - saved).count();
        bytesOnDisk = ZELFileManager::byteCountOnDiskAtURL(folder.string());
    }
    std::filesystem::remove_all(folder);
    state.counters["entries"] = static_cast<double>(entries.size());
    state.counters["stored_items"] = stored;
    state.counters["index_items_per_s"] = static_cast<double>(entries.size()) / indexSeconds;
    state.counters["save_s"] = saveSeconds;
    state.counters["reopen_and_first_lookup_s"] = reopenSeconds;
    state.counters["bytes_on_disk"] = static_cast<double>(bytesOnDisk);
    state.counters["peak_rss_bytes"] = peakResidentBytes();
}
BENCHMARK(BM_IndexChangelogEntriesSaveAndReopen)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
