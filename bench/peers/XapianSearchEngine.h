#pragma once

#include <xapian.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SearchEngine.h"

// Xapian (glass backend, default settings): one document per record, docid = position + 1.
// Author and body are indexed with the term generator without positions, under the prefixes
// "A" and "B"; every other attribute is one lowercased boolean term under its own prefix
// ("XP" package, "XV" version, "XDIST" distribution, "XU" urgency, "XE" e-mail, "XY" year,
// "XM" month, "XDAY" day, "XW" weekday). The document data keeps the record's texts, as the
// other engines keep the records. Queries are Xapian::Query trees over "B" terms, run by an
// Enquire with BoolWeight as get_mset(0, 0, doccount) with a MatchDecider that collects every
// matching docid and keeps none (faster than taking all of get_mset(0, doccount)).
// Completion walks allterms_begin("B" + prefix); limited completion keeps the words whose
// postlist meets the limit's docids (skip_to).
class XapianSearchEngine : public SearchEngine {
public:
    std::string name() const override { return "xapian"; }
    void createDatabase(const BenchDataSet& records, const std::filesystem::path& folder) override;
    void open(const std::filesystem::path& folder) override;
    void evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) override;
    void setCompletionLimit(const BenchQuery& query) override;
    std::vector<std::string> complete(const std::string& prefix, bool limited,
                                      size_t count) override;

private:
    Xapian::Query xapianQuery(const BenchQuery& query) const;
    // Whether the term occurs in a document of limit_.
    bool meetsLimit(const std::string& term) const;

    Xapian::Database db_;
    std::optional<Xapian::Enquire> enquire_;  // made by open, with BoolWeight
    std::vector<Xapian::docid> limit_;        // ascending
};
