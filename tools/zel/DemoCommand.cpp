// zel demo [--records FILE.jsonl --schema SCHEMA.json] [--searches FOLDER] [--db DIR]
//
// Builds a database and shows what it answers and how fast: by default from this machine's
// Debian changelogs, else from the caller's records and schema. Everything printed but the
// counts and timings is the same from run to run on the same data.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "ZELToolChangelogImport.h"
#include "ZELToolDatabase.h"
#include "ZELToolRecords.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/TarvoSecureURL.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryList.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Items shown per search, completions shown per prefix, and the width of an item's line.
constexpr size_t kShownItems = 3;
constexpr size_t kShownCompletions = 8;
constexpr size_t kItemColumns = 96;

// "512 µs", "3.25 ms", "1.20 s".
std::string durationText(Clock::duration duration) {
    const double micros = std::chrono::duration<double, std::micro>(duration).count();
    char text[32];
    if (micros < 1000) {
        std::snprintf(text, sizeof text, "%.0f \u00b5s", micros);
    } else if (micros < 1e6) {
        std::snprintf(text, sizeof text, "%.2f ms", micros / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.2f s", micros / 1e6);
    }
    return text;
}

std::string plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump();
}

// `text` cut to `columns` UTF-16 units (never inside a surrogate pair), with "..." when cut.
std::string shortened(const ZELString& text, size_t columns) {
    if (text.size() <= columns) return ZELStringToUTF8(text);
    size_t end = columns - 3;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
    return ZELStringToUTF8(text.substr(0, end)) + "...";
}

// One line about an item: a changelog entry as "package version: first line of the body",
// any other record as its JSON form.
std::string itemLine(const ZELRecordItem& record) {
    const ZELValue package = record.valueForKey(u"package");
    const ZELValue version = record.valueForKey(u"version");
    const ZELValue body = record.valueForKey(u"body");
    if (package.isString() && version.isString() && body.isString()) {
        ZELString line = body.stringValue().substr(0, body.stringValue().find(u'\n'));
        line.erase(0, line.find_first_not_of(u" \t*"));
        return shortened(package.stringValue() + u" " + version.stringValue() + u": " + line,
                         kItemColumns);
    }
    return shortened(ZELStringFromUTF8(ZELJSON_JSONFromValue(ZELValue(record.values())).dump()),
                     kItemColumns);
}

// A folder under /dev/shm (unless TMPDIR is set) for a database that lives as long as the demo.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        const bool useShm = !(tmp && *tmp) && ::access("/dev/shm", W_OK) == 0;
        std::string pattern =
            ((useShm ? fs::path("/dev/shm") : fs::temp_directory_path()) / "zel-demo-XXXXXX")
                .string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when no folder could be made.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Runs searches and completions on an open database and prints them.
class DemoRunner {
public:
    DemoRunner(ZELToolOpenDatabase& opened, ZELToolOutput output)
        : opened_(opened), output_(output) {}

    // Prints the search's text form, how many items it finds in how long, and the first few;
    // answers its result set (null when the query cannot be evaluated).
    std::shared_ptr<ZELItemResultSet> search(const std::string& title,
                                             const ZELUserQuery& userQuery) {
        ZELDatabase& database = *opened_.database;
        const auto started = Clock::now();
        std::shared_ptr<ZELQuery> query = userQuery.generatedQueryForDatabase(database);
        std::shared_ptr<ZELItemResultSet> results =
            query ? query->resultSetInDatabase(opened_.database) : nullptr;
        const auto elapsed = Clock::now() - started;
        output_.out << "\n"
                    << title << "\n  query: "
                    << (query
                            ? query->descriptionWithDatabase(&database, ZELQueryDescriptionTypeUser)
                            : "(none)")
                    << '\n';
        std::vector<ZELID> itemIDs;
        if (results && results->itemIDs()) {
            results->itemIDs()->enumerateIDs([&](ZELID id, bool& stop) {
                itemIDs.push_back(id);
                stop = itemIDs.size() == kShownItems;
            });
        }
        const size_t count = results && results->itemIDs() ? results->itemIDs()->count() : 0;
        output_.out << "  " << plural(count, "item", "items") << " in " << durationText(elapsed)
                    << '\n';
        for (ZELID itemID : itemIDs) {
            std::shared_ptr<ZELItem> item = database.itemForItemID(itemID, nullptr);
            const auto* record = dynamic_cast<const ZELRecordItem*>(item.get());
            output_.out << "    " << (record ? itemLine(*record) : "item " + std::to_string(itemID))
                        << '\n';
        }
        return results;
    }

    // `zel search`'s words.
    std::shared_ptr<ZELItemResultSet> searchWords(const std::vector<std::string>& words) {
        std::string title = "search";
        for (const std::string& word : words) title += " " + word;
        std::string message;
        std::shared_ptr<ZELUserQuery> userQuery =
            ZELToolUserQueryFromWords(opened_, words, &message);
        if (!userQuery) {
            output_.out << "\n" << title << "\n  " << message << '\n';
            return nullptr;
        }
        return search(title, *userQuery);
    }

    // Prints how many completions `prefix` has in every aspect (among the items of `within`
    // when given), in how long, and the first few.
    void complete(const std::string& prefix, const std::shared_ptr<ZELItemResultSet>& within,
                  const std::string& withinTitle) {
        output_.out << "\ncomplete " << quoted(prefix)
                    << (within ? " within " + withinTitle : std::string()) << '\n';
        const ZELString text = ZELStringFromUTF8(prefix);
        const auto started = Clock::now();
        const std::vector<ZELString> completions =
            ZELCompletionCollector::completionsForMatchingPrefix(
                &text, opened_.database->allAspects(), within, ZELCompletionCollector::noLimit,
                nullptr);
        const auto elapsed = Clock::now() - started;
        output_.out << "  " << plural(completions.size(), "completion", "completions") << " in "
                    << durationText(elapsed);
        for (size_t index = 0; index < completions.size() && index < kShownCompletions; ++index) {
            output_.out << (index == 0 ? ": " : ", ")
                        << quoted(ZELStringToUTF8(completions[index]));
        }
        output_.out << (completions.size() > kShownCompletions ? ", ...\n" : "\n");
    }

    // Runs every saved search of `folder` and of its subfolders.
    void savedSearches(const std::string& folder) {
        output_.out << "\n== Saved searches in " << folder << '\n';
        ZELError error;
        auto location = TarvoSecureURL::secureURLCapturingBookmarkForURL(folder, true, &error);
        auto list = location ? ZELUserQueryList::listWithContentsOfFolder(
                                   location, ZELUserQueryList::LoadFlagLoadSubfolders, &error)
                             : nullptr;
        if (!list) {
            output_.out << "\n" << ZELToolErrorText(error) << '\n';
            return;
        }
        runList(*list, "");
    }

private:
    // Entries, then sublists, each by title: the folder's own order varies between systems.
    void runList(ZELUserQueryList& list, const std::string& path) {
        list.ensureLoaded();
        auto byTitle = [](const auto& a, const auto& b) {
            return a->title().value_or(u"") < b->title().value_or(u"");
        };
        ZELUserQueryList::EntryList entries = list.entries();
        ZELUserQueryList::ListList sublists = list.sublists();
        std::sort(entries.begin(), entries.end(), byTitle);
        std::sort(sublists.begin(), sublists.end(), byTitle);
        for (const auto& entry : entries) {
            const std::string title = path + ZELStringToUTF8(entry->title().value_or(u""));
            ZELError error;
            std::shared_ptr<ZELUserQuery> userQuery =
                entry->userQueryWithDatabase(*opened_.database, &error);
            if (userQuery) {
                search(title, *userQuery);
            } else {
                output_.out << "\n"
                            << title << "\n  unreadable: " << ZELToolErrorText(error) << '\n';
            }
        }
        for (const auto& sublist : sublists) {
            runList(*sublist, path + ZELStringToUTF8(sublist->title().value_or(u"")) + "/");
        }
    }

    ZELToolOpenDatabase& opened_;
    ZELToolOutput output_;
};

// A term and how many items carry it.
struct UsedTerm {
    std::shared_ptr<ZELAspect> aspect;
    ZELString canonical;
    uint64_t uses;
};

// Whether a term holds a letter or digit (any non-ASCII unit counts as one), unlike the
// punctuation that some tokenizers keep.
bool isWordlike(const ZELString& term) {
    return std::any_of(term.begin(), term.end(), [](char16_t unit) {
        return unit >= 0x80 || (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
               (unit >= u'A' && unit <= u'Z');
    });
}

// The `count` wordlike terms that the most items carry, over every aspect; ties go to the
// earlier aspect, then to the term first in the aspect's order.
std::vector<UsedTerm> mostUsedTerms(ZELDatabase& database, size_t count) {
    std::vector<UsedTerm> terms;
    for (const std::shared_ptr<ZELAspect>& aspect : database.allAspects()) {
        std::vector<std::pair<ZELID, ZELString>> ids;
        database.accessLockedUsing([&] {
            aspect->enumerateCompletionsWithNormalizedPrefix(
                ZELString(), nullptr,
                [&](const ZELString&, const ZELString& canonical, ZELID id, bool&) {
                    if (isWordlike(canonical)) ids.emplace_back(id, canonical);
                });
        });
        for (auto& [id, canonical] : ids) {
            std::shared_ptr<ZELAspectBitValueInfo> info = database.aspectBitValueInfoForID(id);
            if (info && info->useCount() > 0)
                terms.push_back({aspect, std::move(canonical), info->useCount()});
        }
    }
    std::stable_sort(terms.begin(), terms.end(),
                     [](const UsedTerm& a, const UsedTerm& b) { return a.uses > b.uses; });
    if (terms.size() > count) terms.resize(count);
    return terms;
}

// The demo on this machine's changelogs.
int changelogDemo(const std::string& folder, const std::string& folderTitle,
                  const std::string& searchesFolder, ZELToolOutput output) {
    const std::vector<std::string> files = ZELToolInstalledChangelogFiles();
    output.out << "== Import: the Debian changelogs of this machine "
                  "(/usr/share/doc/*/changelog.Debian.gz)\n"
               << "database: " << folderTitle << '\n';
    const auto started = Clock::now();
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenChangelogDatabase(folder, &message);
    if (!opened) return ZELToolFail(output, message);
    std::optional<ZELToolChangelogImport> import =
        ZELToolImportChangelogFiles(*opened, files, output, &message);
    if (!import) return ZELToolFail(output, folder + ": " + message);
    if (!opened->database->ensureSerialized()) {
        return ZELToolFail(output,
                           folder + ": cannot save the database: " +
                               ZELToolErrorText(opened->database->lastSerializationError()));
    }
    const auto elapsed = Clock::now() - started;
    const double seconds = std::chrono::duration<double>(elapsed).count();
    output.out << plural(import->files, "file", "files") << ", " << import->unreadableFiles
               << " unreadable: " << plural(import->read.entries, "entry", "entries") << " read, "
               << import->read.skippedEntries << " malformed skipped, "
               << import->read.undatedEntries << " without a date\n"
               << plural(import->added.added, "item", "items") << " stored, "
               << plural(import->added.merged, "repeat", "repeats")
               << " merged into them (the same package and version)\n"
               << "read, indexed and saved in " << durationText(elapsed) << " ("
               << static_cast<uint64_t>(
                      seconds > 0 ? static_cast<double>(import->read.entries) / seconds : 0)
               << " entries/s); the database holds "
               << plural(opened->database->itemCount(), "item", "items") << '\n';

    DemoRunner runner(*opened, output);
    output.out << "\n== Searches (\"prefix:word\" searches one aspect, \"!word\" excludes)\n";
    runner.searchWords({"security"});
    runner.searchWords({"buffer", "overflow"});
    runner.searchWords({"package:bash", "package:dash"});
    runner.searchWords({"urgency:high", "!security"});
    std::shared_ptr<ZELItemResultSet> openssl = runner.searchWords({"package:openssl"});
    runner.searchWords({"link:github.com"});

    output.out << "\n== Completions (every aspect)\n";
    for (const char* prefix : {"s", "se", "sec"}) runner.complete(prefix, nullptr, std::string());
    if (openssl) runner.complete("c", openssl, "the items of package:openssl");

    if (!searchesFolder.empty()) runner.savedSearches(searchesFolder);
    return ZELToolExitSuccess;
}

// The demo on the caller's records.
int recordsDemo(const std::string& folder, const std::string& folderTitle,
                const std::string& recordsPath, const std::string& schemaPath,
                const std::string& searchesFolder, ZELToolOutput output) {
    output.out << "== Import: the records of " << recordsPath << " (schema " << schemaPath << ")\n"
               << "database: " << folderTitle << '\n';
    std::string message;
    std::optional<ZELToolSchema> schema = ZELToolReadSchema(schemaPath, &message);
    if (!schema) return ZELToolFail(output, message);
    std::string text;
    if (!ZELToolReadInput(recordsPath, &text))
        return ZELToolFail(output, recordsPath + ": cannot read the file");
    std::optional<ZELToolRecordLines> parsed =
        ZELToolParseRecordLines(text, recordsPath, schema->dateKeys, &message);
    if (!parsed) return ZELToolFail(output, message);

    const auto started = Clock::now();
    std::optional<ZELToolOpenDatabase> opened =
        ZELToolOpenOrCreateDatabase(folder, *schema, &message);
    if (!opened) return ZELToolFail(output, message);
    const size_t total = parsed->records.size();
    ZELToolProgress progress(output.err, recordsPath, "records");
    ZELToolAddCounts counts;
    if (std::optional<size_t> refused = ZELToolAddRecords(
            *opened->database, std::move(parsed->records), opened->settings, progress, &counts)) {
        progress.abandon();
        return ZELToolFail(output, recordsPath + ":" + std::to_string(parsed->lines[*refused]) +
                                       ": the database refused the record");
    }
    progress.finish(total, total, ", saving");
    if (!opened->database->ensureSerialized()) {
        return ZELToolFail(output,
                           folder + ": cannot save the database: " +
                               ZELToolErrorText(opened->database->lastSerializationError()));
    }
    const auto elapsed = Clock::now() - started;
    output.out << plural(total, "record", "records") << " read\n"
               << plural(counts.added, "item", "items") << " stored, "
               << plural(counts.merged, "duplicate", "duplicates") << " merged\n"
               << "indexed and saved in " << durationText(elapsed) << "; the database holds "
               << plural(opened->database->itemCount(), "item", "items") << '\n';

    DemoRunner runner(*opened, output);
    const std::vector<UsedTerm> terms = mostUsedTerms(*opened->database, 3);
    output.out << "\n== Searches (the most-used terms)\n";
    std::shared_ptr<ZELItemResultSet> first;  // the items of the most-used term
    std::vector<std::string> prefixes;
    for (const UsedTerm& term : terms) {
        ZELUserQuery userQuery;
        userQuery.addMatchValue(term.canonical, term.aspect);
        auto results = runner.search(ZELStringToUTF8(term.aspect->aspectIdentifier()) + ": " +
                                         quoted(ZELStringToUTF8(term.canonical)),
                                     userQuery);
        if (&term == &terms.front()) first = results;
        // The first character (a whole surrogate pair) as a completion prefix.
        const size_t length =
            term.canonical.size() > 1 && term.canonical[0] >= 0xD800 && term.canonical[0] <= 0xDBFF
                ? 2
                : 1;
        const std::string prefix = ZELStringToUTF8(term.canonical.substr(0, length));
        if (std::find(prefixes.begin(), prefixes.end(), prefix) == prefixes.end())
            prefixes.push_back(prefix);
    }
    output.out << "\n== Completions (every aspect; the first letters of the most-used terms)\n";
    for (const std::string& prefix : prefixes) runner.complete(prefix, nullptr, std::string());
    if (first) {
        runner.complete(prefixes.front(), first,
                        "the items of " + quoted(ZELStringToUTF8(terms.front().canonical)));
    }
    if (!searchesFolder.empty()) runner.savedSearches(searchesFolder);
    return ZELToolExitSuccess;
}

}  // namespace

int ZELToolDemo(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string recordsPath, schemaPath, searchesFolder, databaseFolder;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string* value = argument == "--records"    ? &recordsPath
                             : argument == "--schema"   ? &schemaPath
                             : argument == "--searches" ? &searchesFolder
                             : argument == "--db"       ? &databaseFolder
                                                        : nullptr;
        if (!value)
            return ZELToolUsageError(output, "demo: unexpected argument \"" + argument + "\"");
        if (i + 1 >= arguments.size())
            return ZELToolUsageError(output, "demo: " + argument + " needs a value");
        *value = arguments[++i];
    }
    if (recordsPath.empty() != schemaPath.empty()) {
        return ZELToolUsageError(output, "demo: --records and --schema go together");
    }
    std::optional<ScratchFolder> scratch;
    std::string folder = databaseFolder;
    if (folder.empty()) {
        scratch.emplace();
        if (scratch->path().empty())
            return ZELToolFail(output, "cannot make a scratch folder for the database");
        folder = scratch->path();
    }
    const std::string folderTitle = scratch ? "a scratch folder, removed at the end" : folder;
    if (recordsPath.empty()) return changelogDemo(folder, folderTitle, searchesFolder, output);
    return recordsDemo(folder, folderTitle, recordsPath, schemaPath, searchesFolder, output);
}
