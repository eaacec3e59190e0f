#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// A boolean query over body words, in the form every engine translates into its own: a word,
// AND or OR over operands, or AND-NOT of an included and an excluded operand.
struct BenchQuery {
    enum class Kind { Word, And, Or, AndNot };

    Kind kind = Kind::Word;
    std::string word;                  // Word only
    std::vector<BenchQuery> operands;  // And, Or: two or more; AndNot: {included, excluded}

    static BenchQuery wordQuery(std::string word);
    static BenchQuery combined(Kind kind, std::vector<BenchQuery> operands);

    // "(a OR b) AND NOT (c AND (d OR e))".
    std::string description() const;
};

// The query shapes the comparison times, each filled with random words.
enum class BenchQueryShape { SingleTerm, TwoTermAND, ThreeTermOR, ANDWithNOT, Nested };
inline constexpr BenchQueryShape allBenchQueryShapes[] = {
    BenchQueryShape::SingleTerm, BenchQueryShape::TwoTermAND, BenchQueryShape::ThreeTermOR,
    BenchQueryShape::ANDWithNOT, BenchQueryShape::Nested};

// "single term", "two-term AND", "three-term OR", "AND with NOT", "nested".
const char* nameOfBenchQueryShape(BenchQueryShape shape);

// A query of `shape` over words drawn uniformly from `words` (which must not be empty). Nested
// is (a OR b) AND NOT (c AND (d OR e)).
BenchQuery makeBenchQuery(BenchQueryShape shape, const std::vector<std::string>& words,
                          std::mt19937_64& random);
