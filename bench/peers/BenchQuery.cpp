#include "BenchQuery.h"

BenchQuery BenchQuery::wordQuery(std::string word) {
    BenchQuery query;
    query.word = std::move(word);
    return query;
}

BenchQuery BenchQuery::combined(Kind kind, std::vector<BenchQuery> operands) {
    BenchQuery query;
    query.kind = kind;
    query.operands = std::move(operands);
    return query;
}

std::string BenchQuery::description() const {
    if (kind == Kind::Word) return word;
    const char* joint = kind == Kind::And ? " AND " : kind == Kind::Or ? " OR " : " AND NOT ";
    std::string text;
    for (const BenchQuery& operand : operands) {
        if (!text.empty()) text += joint;
        text +=
            operand.kind == Kind::Word ? operand.description() : "(" + operand.description() + ")";
    }
    return text;
}

const char* nameOfBenchQueryShape(BenchQueryShape shape) {
    switch (shape) {
        case BenchQueryShape::SingleTerm:
            return "single term";
        case BenchQueryShape::TwoTermAND:
            return "two-term AND";
        case BenchQueryShape::ThreeTermOR:
            return "three-term OR";
        case BenchQueryShape::ANDWithNOT:
            return "AND with NOT";
        case BenchQueryShape::Nested:
            return "nested";
    }
    return "";
}

BenchQuery makeBenchQuery(BenchQueryShape shape, const std::vector<std::string>& words,
                          std::mt19937_64& random) {
    using Kind = BenchQuery::Kind;
    auto word = [&] { return BenchQuery::wordQuery(words[random() % words.size()]); };
    auto pair = [&](Kind kind) { return BenchQuery::combined(kind, {word(), word()}); };
    switch (shape) {
        case BenchQueryShape::SingleTerm:
            return word();
        case BenchQueryShape::TwoTermAND:
            return pair(Kind::And);
        case BenchQueryShape::ThreeTermOR:
            return BenchQuery::combined(Kind::Or, {word(), word(), word()});
        case BenchQueryShape::ANDWithNOT:
            return pair(Kind::AndNot);
        case BenchQueryShape::Nested: {
            BenchQuery included = pair(Kind::Or);
            BenchQuery first = word();
            BenchQuery excluded =
                BenchQuery::combined(Kind::And, {std::move(first), pair(Kind::Or)});
            return BenchQuery::combined(Kind::AndNot, {std::move(included), std::move(excluded)});
        }
    }
    return word();
}
