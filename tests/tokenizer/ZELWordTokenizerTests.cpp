#include <gtest/gtest.h>

#include <utility>

#include "TokenizerTestSupport.h"
#include "zel/tokenizer/TarvoICUTokenizer.h"
#include "zel/tokenizer/ZELJapaneseTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

std::optional<ZELTokenSet> WordTokens(const ZELString& text) {
    return ZELTokenizer::tokenizer<ZELWordTokenizer>()->tokensForValue(ZELValue(text));
}

std::optional<ZELTokenSet> WordTokens(const char* utf8) { return WordTokens(U(utf8)); }

// A base64 line of `length` characters from the alphabet, "+" and "/" included.
std::string Base64Line(size_t length, size_t seed) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line;
    for (size_t i = 0; i < length; ++i) line += alphabet[(i * 7 + seed * 13) % 64];
    return line;
}

std::vector<std::pair<size_t, size_t>> VisitedWords(const char* locale, const ZELString& text, size_t start,
                                                    size_t length, size_t stopAfter = SIZE_MAX) {
    std::vector<std::pair<size_t, size_t>> visited;
    const bool opened = TarvoICUTokenizer_VisitWordsInString(locale, text, start, length, [&](size_t s, size_t l) {
        visited.emplace_back(s, l);
        return visited.size() < stopAfter;
    });
    EXPECT_TRUE(opened);
    return visited;
}

}  // namespace

// Punctuation is a token and spaces are not; segments without visible characters are dropped;
// URLs are skipped whole with their trailing punctuation.
TEST(ZELWordTokenizer, PlainTextGivesItsWordsAndPunctuation) {
    const struct {
        const char* text;
        std::vector<const char*> tokens;
    } rows[] = {
        {"Hello, world!", {"Hello", ",", "world", "!"}},
        {"Wait... what?!", {"Wait", ".", "what", "?", "!"}},
        {"example.com can't 3.14", {"example.com", "can't", "3.14"}},
        {"I \u2764 tea", {"I", "\u2764", "tea"}},
        {"a \u200B\u200B b\t\r\n\u00A0c", {"a", "b", "c"}},
        {" \n\t ", {}},
        {"", {}},
        {"see https://example.com/a/b?x=1). next", {"see", "next"}},
        // A URL at the very end runs to the end of the text.
        {"go to https://a.b/c.", {"go", "to"}},
        {"(ftp://host/file), done", {"(", "done"}},
        // Only a segment followed by "://" starts a URL.
        {"ratio 3:1 and a:/b", {"ratio", "3", ":", "1", "and", "a", "/", "b"}},
        // Hyphenated compounds are kept whole and in parts.
        {"well-known", {"well", "well-known", "known"}},
        {"an e-mail, re-sent", {"an", "e", "e-mail", "mail", ",", "re", "re-sent", "sent"}},
        {"x - y", {"x", "-", "y"}},
        {"über-öffentlich", {"über", "über-öffentlich", "öffentlich"}},
    };
    for (const auto& row : rows) EXPECT_EQ(WordTokens(row.text), Tokens(row.tokens)) << row.text;
    EXPECT_EQ(ZELWordTokenizer::wordForHyphenAtIndex(2, U("(a-b-c)")), U("a-b-c"));
    EXPECT_EQ(ZELWordTokenizer::wordForHyphenAtIndex(2, U("\U0001D400-z")), U("\U0001D400-z"));  // math bold A
}

TEST(ZELWordTokenizer, Base64BlocksAreSkipped) {
    const std::string block = Base64Line(76, 1) + "\n" + Base64Line(76, 2) + "\n" + Base64Line(40, 3) + "==\n";
    EXPECT_EQ(WordTokens(("Attached:\n" + block + "\ndone").c_str()), Tokens({"Attached", ":", "done"}));
    // Carriage return and line feed end the lines of mail bodies.
    const std::string crlfBlock = Base64Line(76, 4) + "\r\n" + Base64Line(76, 5) + "\r\n" + Base64Line(12, 6) + "\r\n";
    EXPECT_EQ(WordTokens((crlfBlock + "\r\nthanks").c_str()), Tokens({"thanks"}));
    // A block of lines without "+" or "/" is skipped through its long segments.
    const std::string letters = std::string(70, 'Q') + "\n" + std::string(70, 'R') + "\n";
    EXPECT_EQ(WordTokens((letters + "\nend").c_str()), Tokens({"end"}));
    // A line of other characters ends the block.
    EXPECT_EQ(WordTokens((Base64Line(76, 7) + "\nBest regards\n").c_str()), Tokens({"Best", "regards"}));
}

TEST(ZELWordTokenizer, LongSegmentsThatAreNotBase64LinesAreTokens) {
    // Not alone on its line: the paragraph starts earlier.
    const std::string word(70, 'w');
    EXPECT_EQ(WordTokens(("intro " + word + "\nnext").c_str()), Tokens({"intro", word.c_str(), "next"}));
    // A base64 line at the very end without terminator: its paragraph has no terminator.
    const std::string lastLine = std::string(64, 'Z');
    EXPECT_EQ(WordTokens(("x\n" + lastLine).c_str()), Tokens({"x", lastLine.c_str()}));
    // Shorter than 64 units with its terminator.
    const std::string shortLine = std::string(62, 'S');
    EXPECT_EQ(WordTokens((shortLine + "\nok").c_str()), Tokens({shortLine.c_str(), "ok"}));
    // A very long word is cut to 400 units.
    EXPECT_EQ(WordTokens(ZELString(1000, u'k') + u" end"), (ZELTokenSet{ZELString(400, u'k'), u"end"}));
}

TEST(ZELWordTokenizer, JapaneseRunsAreSplitIntoDictionaryWords) {
    const ZELString text = U("日本語のテキストです");
    const auto tokens = WordTokens(text);
    ASSERT_TRUE(tokens);
    ZELTokenSet expected;
    for (const auto& [start, length] : VisitedWords("ja_JP", text, 0, text.size())) {
        expected.insert(text.substr(start, length));
    }
    EXPECT_GT(expected.size(), 2u);
    EXPECT_EQ(*tokens, expected) << Describe(tokens);
    EXPECT_EQ(WordTokens("Tokyo 東京都に行く, then home"),
              Tokens({"Tokyo", "東京", "都", "に", "行く", ",", "then", "home"}));
}

TEST(ZELWordTokenizer, TheJapaneseStepConsumesUpToTheSegmentThatReachesTheRangeEnd) {
    const ZELString text = U("日本語abc def");
    ZELTokenizerState state;
    const ZELWordTokenizer tokenizer;
    const ZELRange consumed = ZELJapaneseTokenizer::addCJKTokensToTokenizer(tokenizer, text, ZELRange{0, 1}, state);
    EXPECT_EQ(consumed, (ZELRange{0, 3}));
    EXPECT_EQ(state.finalizeCollectedTokens(), Tokens({"日本語"}));
    EXPECT_TRUE(ZELJapaneseTokenizer::hasCJKPrefix(U("ｶﾀｶﾅ"), ZELRange{0, 1}));
    EXPECT_FALSE(ZELJapaneseTokenizer::hasCJKPrefix(U("日"), ZELRange{0, 0}));
    EXPECT_FALSE(ZELJapaneseTokenizer::hasCJKPrefix(U("한국어"), ZELRange{0, 3}));
}

TEST(ZELWordTokenizer, WithoutOptionsEverySegmentIsCollected) {
    const ZELWordTokenizer tokenizer;
    ZELTokenizerState state;
    tokenizer.collectTokensFromSegments(U("a  b http://x"), "root", 0, state);
    EXPECT_EQ(state.finalizeCollectedTokens(), Tokens({"a", "  ", " ", "b", "http", ":", "/", "x"}));
}

TEST(TarvoICUTokenizer, VisitsSegmentsOfAStretchAtTextOffsetsAndStopsWhenAsked) {
    const ZELString text = U("ab cd ef");
    EXPECT_EQ(VisitedWords("root", text, 3, 5), (std::vector<std::pair<size_t, size_t>>{{3, 2}, {5, 1}, {6, 2}}));
    EXPECT_EQ(VisitedWords("en_US", text, 0, 8, 2), (std::vector<std::pair<size_t, size_t>>{{0, 2}, {2, 1}}));
    EXPECT_TRUE(VisitedWords("ja_JP", text, 4, 0).empty());
}
