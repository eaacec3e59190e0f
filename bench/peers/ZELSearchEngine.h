#pragma once

#include <memory>
#include <string>

#include "SearchEngine.h"

class ZELAspect;
class ZELDatabase;
class ZELItemResultSet;
class ZELQuery;

// ZEL: the changelog database of ZELBenchCorpora.h without duplicate detection, so that every
// record is stored. Item IDs are given in order from 1, so a record's position is its item ID
// less one (createDatabase checks this). Queries are ZELQuery trees evaluated with
// resultSetInDatabase; completion is ZELCompletionCollector over the body aspect, limited by
// the result set of the limit query. Indexing adds the records in runs through addItems with
// `threadCount` threads tokenizing ("zel" for one thread, "zel-tN" for N).
class ZELSearchEngine : public SearchEngine {
public:
    explicit ZELSearchEngine(unsigned threadCount) : threadCount_(threadCount) {}
    ~ZELSearchEngine() override;

    std::string name() const override {
        return threadCount_ == 1 ? "zel" : "zel-t" + std::to_string(threadCount_);
    }
    void createDatabase(const BenchDataSet& records, const std::filesystem::path& folder) override;
    void open(const std::filesystem::path& folder) override;
    void evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) override;
    void setCompletionLimit(const BenchQuery& query) override;
    std::vector<std::string> complete(const std::string& prefix, bool limited,
                                      size_t count) override;

private:
    std::shared_ptr<ZELQuery> zelQuery(const BenchQuery& query) const;

    unsigned threadCount_;
    std::shared_ptr<ZELDatabase> db_;
    std::shared_ptr<ZELAspect> body_;
    std::shared_ptr<ZELItemResultSet> completionLimit_;
};
