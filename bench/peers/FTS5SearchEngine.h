#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "SearchEngine.h"

// SQLite's FTS5 with the unicode61 tokenizer (remove_diacritics 2), in one of two layouts:
//
// - detail=full: one table "records" with a column per attribute; body queries carry the
//   column filter "body : (...)".
// - detail=none: FTS5 refuses column filters there ("column queries are not supported"), so
//   each attribute has a table of its own with its one column, all sharing the rowid; body
//   queries go to the table "body_index".
//
// The rowid of a record is its position plus one. Indexing is one transaction. Queries are
// `SELECT rowid ... MATCH ?` with every word quoted. Completion walks an fts5vocab table over
// the body words (a range scan on the term); limited completion keeps, in vocabulary order,
// the words for which `MATCH '"word" AND (<limit query>)'` finds a row.
class FTS5SearchEngine : public SearchEngine {
public:
    // With `keepsPositions`, detail=full; else detail=none.
    explicit FTS5SearchEngine(bool keepsPositions) : keepsPositions_(keepsPositions) {}
    ~FTS5SearchEngine() override;

    std::string name() const override { return keepsPositions_ ? "fts5-full" : "fts5-none"; }
    void createDatabase(const BenchDataSet& records, const std::filesystem::path& folder) override;
    void open(const std::filesystem::path& folder) override;
    void evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) override;
    void setCompletionLimit(const BenchQuery& query) override;
    std::vector<std::string> complete(const std::string& prefix, bool limited,
                                      size_t count) override;

private:
    void openConnection(const std::filesystem::path& folder, int flags);
    void execute(const std::string& sql);
    // A statement kept until the engine closes.
    sqlite3_stmt* prepare(const std::string& sql);
    // Runs an insert to its end and resets it.
    void step(sqlite3_stmt* statement);
    // The MATCH text of an expression over body words: with the column filter for detail=full.
    std::string matchText(const std::string& bareExpression) const;
    [[noreturn]] void fail(const std::string& what) const;

    const bool keepsPositions_;
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;  // every prepared statement, finalized on close
    sqlite3_stmt* match_ = nullptr;          // SELECT rowid ... MATCH ?1
    sqlite3_stmt* probe_ = nullptr;          // SELECT 1 ... MATCH ?1 LIMIT 1
    sqlite3_stmt* vocabulary_ = nullptr;     // body words in [?1, ?2)
    std::string limitExpression_;  // the completion limit's expression, without column filter
};
