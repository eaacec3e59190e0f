#include "XapianSearchEngine.h"

#include <algorithm>
#include <stdexcept>

namespace {

// The longest boolean term: Xapian's glass backend takes terms of at most 245 bytes.
constexpr size_t longestTerm = 240;

void addBooleanTerm(Xapian::Document& document, const std::string& prefix,
                    const std::string& value) {
    if (value.empty()) return;
    std::string term = prefix + Xapian::Unicode::tolower(value);
    if (term.size() > longestTerm) {
        // Cut before a UTF-8 lead byte, so that only whole characters remain.
        size_t size = longestTerm;
        while (size > 0 && (static_cast<unsigned char>(term[size]) & 0xC0) == 0x80) --size;
        term.resize(size);
    }
    document.add_boolean_term(term);
}

std::string documentData(const BenchRecord& record) {
    std::string data;
    for (const std::string* value : {&record.package, &record.version, &record.distribution,
                                     &record.urgency, &record.authorName, &record.authorEmail}) {
        data += *value;
        data += '\n';
    }
    if (record.hasDate) data += std::to_string(record.date);
    data += '\n';
    data += record.body;
    return data;
}

}  // namespace

void XapianSearchEngine::createDatabase(const BenchDataSet& records,
                                        const std::filesystem::path& folder) {
    Xapian::WritableDatabase database((folder / "xapian").string(), Xapian::DB_CREATE_OR_OVERWRITE);
    Xapian::TermGenerator generator;
    records.forEachRecord([&](const BenchRecord& record, uint32_t position) {
        Xapian::Document document;
        addBooleanTerm(document, "XP", record.package);
        addBooleanTerm(document, "XV", record.version);
        addBooleanTerm(document, "XDIST", record.distribution);
        addBooleanTerm(document, "XU", record.urgency);
        addBooleanTerm(document, "XE", record.authorEmail);
        addBooleanTerm(document, "XY", record.year);
        addBooleanTerm(document, "XM", record.month);
        addBooleanTerm(document, "XDAY", record.day);
        addBooleanTerm(document, "XW", record.weekday);
        generator.set_document(document);
        generator.index_text_without_positions(record.authorName, 1, "A");
        generator.index_text_without_positions(record.body, 1, "B");
        document.set_data(documentData(record));
        const Xapian::docid docid = database.add_document(document);
        if (docid != position + 1) {
            throw std::runtime_error("xapian: record " + std::to_string(position) + " got docid " +
                                     std::to_string(docid));
        }
    });
    database.commit();
    database.close();
}

void XapianSearchEngine::open(const std::filesystem::path& folder) {
    db_ = Xapian::Database((folder / "xapian").string());
    enquire_.emplace(db_);
    enquire_->set_weighting_scheme(Xapian::BoolWeight());
}

Xapian::Query XapianSearchEngine::xapianQuery(const BenchQuery& query) const {
    if (query.kind == BenchQuery::Kind::Word) return Xapian::Query("B" + query.word);
    std::vector<Xapian::Query> operands;
    for (const BenchQuery& operand : query.operands) operands.push_back(xapianQuery(operand));
    const Xapian::Query::op operation = query.kind == BenchQuery::Kind::And ? Xapian::Query::OP_AND
                                        : query.kind == BenchQuery::Kind::Or
                                            ? Xapian::Query::OP_OR
                                            : Xapian::Query::OP_AND_NOT;
    return Xapian::Query(operation, operands.begin(), operands.end());
}

void XapianSearchEngine::evaluate(const BenchQuery& query, std::vector<uint32_t>& positions) {
    // The decider sees every matching document (checkatleast is the document count) and keeps
    // none, so no match set is built.
    class PositionCollector : public Xapian::MatchDecider {
    public:
        explicit PositionCollector(std::vector<uint32_t>& positions) : positions_(positions) {}
        bool operator()(const Xapian::Document& document) const override {
            positions_.push_back(document.get_docid() - 1);
            return false;
        }

    private:
        std::vector<uint32_t>& positions_;
    };
    positions.clear();
    const PositionCollector collector(positions);
    enquire_->set_query(xapianQuery(query));
    enquire_->get_mset(0, 0, db_.get_doccount(), nullptr, &collector);
}

void XapianSearchEngine::setCompletionLimit(const BenchQuery& query) {
    std::vector<uint32_t> positions;
    evaluate(query, positions);
    limit_.assign(positions.begin(), positions.end());
    for (Xapian::docid& docid : limit_) ++docid;
    std::sort(limit_.begin(), limit_.end());
}

bool XapianSearchEngine::meetsLimit(const std::string& term) const {
    Xapian::PostingIterator posting = db_.postlist_begin(term);
    const Xapian::PostingIterator end = db_.postlist_end(term);
    auto next = limit_.begin();
    while (posting != end && next != limit_.end()) {
        if (*posting == *next) return true;
        if (*posting < *next) {
            posting.skip_to(*next);
        } else {
            next = std::lower_bound(next, limit_.end(), *posting);
        }
    }
    return false;
}

std::vector<std::string> XapianSearchEngine::complete(const std::string& prefix, bool limited,
                                                      size_t count) {
    std::vector<std::string> words;
    const std::string start = "B" + prefix;
    for (auto term = db_.allterms_begin(start);
         term != db_.allterms_end(start) && words.size() < count; ++term) {
        const std::string found = *term;
        if (limited && !meetsLimit(found)) continue;
        words.push_back(found.substr(1));
    }
    return words;
}
