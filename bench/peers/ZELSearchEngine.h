#pragma once

#include <memory>

#include "SearchEngine.h"

class ZELAspect;
class ZELDatabase;
class ZELItemResultSet;
class ZELQuery;

// ZEL: the changelog database of ZELBenchCorpora.h without duplicate detection, so that every
// record is stored. Item IDs are given in order from 1, so a record's position is its item ID
// less one (createDatabase checks this). Queries are ZELQuery trees evaluated with
// resultSetInDatabase; completion is ZELCompletionCollector over the body aspect, limited by
// the result set of the limit query.
class ZELSearchEngine : public SearchEngine {
public:
    ~ZELSearchEngine() override;

    std::string name() const override { return "zel"; }
    void createDatabase(const BenchDataSet& records, const std::filesystem::path& folder) override;
    void open(const std::filesystem::path& folder) override;
    void evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) override;
    void setCompletionLimit(const BenchQuery& query) override;
    std::vector<std::string> complete(const std::string& prefix, bool limited,
                                      size_t count) override;

private:
    std::shared_ptr<ZELQuery> zelQuery(const BenchQuery& query) const;

    std::shared_ptr<ZELDatabase> db_;
    std::shared_ptr<ZELAspect> body_;
    std::shared_ptr<ZELItemResultSet> completionLimit_;
};
