#include "FTS5SearchEngine.h"

#include <array>
#include <stdexcept>

namespace {

constexpr size_t attributeCount = 11;

// The attributes, in column order; "body" is the one queried.
const char* const attributeNames[attributeCount] = {"package", "version", "distribution", "urgency",
                                                    "author",  "email",   "year",         "month",
                                                    "day",     "weekday", "body"};

const std::string tokenizerOption = "tokenize = 'unicode61 remove_diacritics 2'";

// The record's value of each attribute, in column order.
std::array<const std::string*, attributeCount> attributeValues(const BenchRecord& record) {
    return {&record.package,    &record.version,     &record.distribution, &record.urgency,
            &record.authorName, &record.authorEmail, &record.year,         &record.month,
            &record.day,        &record.weekday,     &record.body};
}

// The detail=none table of an attribute. (FTS5 takes a table's name for a hidden column of
// its own, so a column cannot share it.)
std::string tableOfAttribute(const char* attribute) {
    return std::string(attribute) + "_index";
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// The bare MATCH expression of a query, every word quoted.
std::string expression(const BenchQuery& query) {
    if (query.kind == BenchQuery::Kind::Word) return "\"" + query.word + "\"";
    const char* joint = query.kind == BenchQuery::Kind::And  ? " AND "
                        : query.kind == BenchQuery::Kind::Or ? " OR "
                                                             : " NOT ";
    std::string text;
    for (const BenchQuery& operand : query.operands) {
        if (!text.empty()) text += joint;
        text += operand.kind == BenchQuery::Kind::Word ? expression(operand)
                                                       : "(" + expression(operand) + ")";
    }
    return text;
}

// The smallest text above every text that begins with `prefix` (ASCII letters).
std::string endOfPrefix(std::string prefix) {
    prefix.back() = static_cast<char>(prefix.back() + 1);
    return prefix;
}

}  // namespace

FTS5SearchEngine::~FTS5SearchEngine() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    if (db_) sqlite3_close(db_);
}

void FTS5SearchEngine::fail(const std::string& what) const {
    throw std::runtime_error(name() + ": " + what + ": " +
                             (db_ ? sqlite3_errmsg(db_) : "no database"));
}

void FTS5SearchEngine::openConnection(const std::filesystem::path& folder, int flags) {
    const std::string path = (folder / "fts5.sqlite").string();
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        fail("could not open " + path);
    }
}

void FTS5SearchEngine::execute(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "";
        sqlite3_free(message);
        throw std::runtime_error(name() + ": " + sql + ": " + text);
    }
}

sqlite3_stmt* FTS5SearchEngine::prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
        fail("could not prepare " + sql);
    }
    statements_.push_back(statement);
    return statement;
}

void FTS5SearchEngine::step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) fail("insert failed");
    sqlite3_reset(statement);
}

void FTS5SearchEngine::createDatabase(const BenchDataSet& records,
                                      const std::filesystem::path& folder) {
    openConnection(folder, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const std::string options =
        tokenizerOption + (keepsPositions_ ? ", detail = full" : ", detail = none");
    std::vector<sqlite3_stmt*> inserts;
    execute("BEGIN");
    if (keepsPositions_) {
        std::string columns, parameters;
        for (size_t index = 0; index < attributeCount; ++index) {
            columns += std::string(", ") + attributeNames[index];
            parameters += ", ?" + std::to_string(index + 2);
        }
        execute("CREATE VIRTUAL TABLE records USING fts5(" + columns.substr(2) + ", " + options +
                ")");
        inserts.push_back(
            prepare("INSERT INTO records(rowid" + columns + ") VALUES (?1" + parameters + ")"));
    } else {
        for (const char* attribute : attributeNames) {
            const std::string table = tableOfAttribute(attribute);
            execute("CREATE VIRTUAL TABLE " + table + " USING fts5(" + attribute + ", " + options +
                    ")");
            inserts.push_back(
                prepare("INSERT INTO " + table + "(rowid, " + attribute + ") VALUES (?1, ?2)"));
        }
    }
    records.forEachRecord([&](const BenchRecord& record, uint32_t position) {
        const auto values = attributeValues(record);
        const sqlite3_int64 rowid = static_cast<sqlite3_int64>(position) + 1;
        if (keepsPositions_) {
            sqlite3_bind_int64(inserts[0], 1, rowid);
            for (size_t index = 0; index < attributeCount; ++index) {
                bindText(inserts[0], static_cast<int>(index) + 2, *values[index]);
            }
            step(inserts[0]);
        } else {
            for (size_t index = 0; index < attributeCount; ++index) {
                sqlite3_bind_int64(inserts[index], 1, rowid);
                bindText(inserts[index], 2, *values[index]);
                step(inserts[index]);
            }
        }
    });
    execute("COMMIT");
}

void FTS5SearchEngine::open(const std::filesystem::path& folder) {
    openConnection(folder, SQLITE_OPEN_READWRITE);
    const std::string table = keepsPositions_ ? "records" : tableOfAttribute("body");
    match_ = prepare("SELECT rowid FROM " + table + " WHERE " + table + " MATCH ?1");
    probe_ = prepare("SELECT 1 FROM " + table + " WHERE " + table + " MATCH ?1 LIMIT 1");
    // The vocabulary table lives in the connection's temporary schema, outside the database.
    if (keepsPositions_) {
        execute("CREATE VIRTUAL TABLE temp.vocabulary USING fts5vocab(main, records, col)");
        vocabulary_ = prepare(
            "SELECT term FROM temp.vocabulary WHERE term >= ?1 AND term < ?2 AND col = 'body'");
    } else {
        execute("CREATE VIRTUAL TABLE temp.vocabulary USING fts5vocab(main, " +
                tableOfAttribute("body") + ", row)");
        vocabulary_ = prepare("SELECT term FROM temp.vocabulary WHERE term >= ?1 AND term < ?2");
    }
}

std::string FTS5SearchEngine::matchText(const std::string& bareExpression) const {
    return keepsPositions_ ? "body : (" + bareExpression + ")" : bareExpression;
}

void FTS5SearchEngine::evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) {
    positions.clear();
    const std::string text = matchText(expression(query));
    bindText(match_, 1, text);
    int status;
    while ((status = sqlite3_step(match_)) == SQLITE_ROW) {
        positions.push_back(static_cast<uint32_t>(sqlite3_column_int64(match_, 0) - 1));
    }
    sqlite3_reset(match_);
    if (status != SQLITE_DONE) fail("query failed: " + text);
}

void FTS5SearchEngine::setCompletionLimit(const BenchQuery& query) {
    limitExpression_ = expression(query);
}

std::vector<std::string> FTS5SearchEngine::complete(const std::string& prefix, bool limited,
                                                    size_t count) {
    std::vector<std::string> words;
    const std::string end = endOfPrefix(prefix);
    bindText(vocabulary_, 1, prefix);
    bindText(vocabulary_, 2, end);
    while (words.size() < count && sqlite3_step(vocabulary_) == SQLITE_ROW) {
        const auto* term = reinterpret_cast<const char*>(sqlite3_column_text(vocabulary_, 0));
        if (limited) {
            const std::string text =
                matchText("\"" + std::string(term) + "\" AND (" + limitExpression_ + ")");
            bindText(probe_, 1, text);
            const bool found = sqlite3_step(probe_) == SQLITE_ROW;
            sqlite3_reset(probe_);
            if (!found) continue;
        }
        words.emplace_back(term);
    }
    sqlite3_reset(vocabulary_);
    return words;
}
