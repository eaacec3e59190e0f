#include "ZELSearchEngine.h"

#include <stdexcept>

#include "ZELBenchCorpora.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"

namespace {

constexpr uint32_t kRecordsPerCompaction = 50000;
// Records handed to addItems at once (a divisor of kRecordsPerCompaction).
constexpr size_t kRecordsPerRun = 500;

}  // namespace

ZELSearchEngine::~ZELSearchEngine() {
    completionLimit_.reset();
    if (db_) db_->invalidate();
}

void ZELSearchEngine::createDatabase(const BenchDataSet& records,
                                     const std::filesystem::path& folder) {
    db_ = ZELBench_OpenChangelogDatabase(folder, false);
    if (!db_) throw std::runtime_error("ZEL: could not create the database");
    std::vector<std::shared_ptr<ZELItem>> run;
    uint32_t firstPosition = 0;
    const auto addRun = [&] {
        const std::vector<ZELID> itemIDs = db_->addItems(run, threadCount_);
        for (size_t index = 0; index < itemIDs.size(); ++index) {
            const uint32_t position = firstPosition + static_cast<uint32_t>(index);
            if (itemIDs[index] != position + 1) {
                throw std::runtime_error("ZEL: record " + std::to_string(position) +
                                         " got item ID " + std::to_string(itemIDs[index]));
            }
        }
        firstPosition += static_cast<uint32_t>(run.size());
        run.clear();
    };
    db_->beginItemChanges();
    records.forEachRecord([&](const BenchRecord& record, uint32_t position) {
        // As a host importing much would: every so many records the stores are saved and the
        // objects they hold in memory let go of, so that memory stays bounded.
        if (position > 0 && position % kRecordsPerCompaction == 0) {
            addRun();
            db_->compactMemory(2);
        }
        run.push_back(ZELRecordItem::itemWithValues(record.changelogEntry()));
        if (run.size() == kRecordsPerRun) addRun();
    });
    addRun();
    db_->endItemChanges();
    if (!db_->ensureSerialized()) throw std::runtime_error("ZEL: saving failed");
}

void ZELSearchEngine::open(const std::filesystem::path& folder) {
    db_ = ZELBench_OpenChangelogDatabase(folder, false);
    if (!db_) throw std::runtime_error("ZEL: could not open the database");
    body_ = db_->aspectWithIdentifier(u"body");
}

std::shared_ptr<ZELQuery> ZELSearchEngine::zelQuery(const BenchQuery& query) const {
    if (query.kind == BenchQuery::Kind::Word) {
        return ZELQuery::queryMatchingID(
            body_->aspectBitIDForValue(ZELStringFromUTF8(query.word), false));
    }
    ZELQuery::QueryList operands;
    for (const BenchQuery& operand : query.operands) operands.push_back(zelQuery(operand));
    switch (query.kind) {
        case BenchQuery::Kind::And:
            return ZELQuery::queryCombiningQueries(operands, ZELBooleanOperationAND);
        case BenchQuery::Kind::Or:
            return ZELQuery::queryCombiningQueries(operands, ZELBooleanOperationOR);
        default:
            return ZELQuery::queryCombiningQueries(
                {operands.at(0), ZELQuery::queryNegatingQuery(operands.at(1))},
                ZELBooleanOperationAND);
    }
}

void ZELSearchEngine::evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) {
    const auto resultSet = zelQuery(query)->resultSetInDatabase(db_);
    const auto& itemIDs = resultSet->itemIDs();
    positions.clear();
    positions.reserve(itemIDs->count());
    itemIDs->enumerateIDs(
        [&](ZELID itemID, bool&) { positions.push_back(static_cast<uint32_t>(itemID - 1)); });
}

void ZELSearchEngine::setCompletionLimit(const BenchQuery& query) {
    // The collector limits each value it reaches by the set's items: nothing else to prepare.
    completionLimit_ = zelQuery(query)->resultSetInDatabase(db_);
}

std::vector<std::string> ZELSearchEngine::complete(const std::string& prefix, bool limited,
                                                   size_t count) {
    const ZELString typed = ZELStringFromUTF8(prefix);
    bool surpassed = false;
    const auto completions = ZELCompletionCollector::completionsForMatchingPrefix(
        &typed, {body_}, limited ? completionLimit_ : nullptr, count, &surpassed);
    std::vector<std::string> words;
    words.reserve(completions.size());
    for (const ZELString& completion : completions) words.push_back(ZELStringToUTF8(completion));
    return words;
}
