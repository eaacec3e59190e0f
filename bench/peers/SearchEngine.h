#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchDataSet.h"
#include "BenchQuery.h"

// One engine of the comparison (ZEL or a peer) behind the operations that are timed: index the
// records into a saved database, reopen it, answer queries with every matching record, and
// complete prefixes of body words. Used by one thread; the engine owns its open database.
// Failures throw std::exception (their text is reported).
class SearchEngine {
public:
    virtual ~SearchEngine() = default;

    // "zel", "fts5-none", "fts5-full" or "xapian".
    virtual std::string name() const = 0;

    // Creates the database in the empty folder `folder`, indexes every record and saves, so that
    // open() finds them all. Timed as a whole.
    virtual void createDatabase(const BenchDataSet& records,
                                const std::filesystem::path& folder) = 0;

    // Opens the database that createDatabase saved in `folder`.
    virtual void open(const std::filesystem::path& folder) = 0;

    // Replaces `positions` by the positions of every record matching `query` (their order is
    // free).
    virtual void evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) = 0;

    // Computes what completion within `query`'s records needs before the first completion
    // (not timed).
    virtual void setCompletionLimit(const BenchQuery& query) = 0;

    // The first `count` body words that begin with the lowercase `prefix`, in the engine's
    // order; with `limited`, only words that occur in the records of the completion limit.
    virtual std::vector<std::string> complete(const std::string& prefix, bool limited,
                                              size_t count) = 0;
};

// The engine named `name` (see SearchEngine::name); null for another name.
std::unique_ptr<SearchEngine> makeSearchEngine(const std::string& name);

// The names makeSearchEngine knows, in report order.
const std::vector<std::string>& allSearchEngineNames();
