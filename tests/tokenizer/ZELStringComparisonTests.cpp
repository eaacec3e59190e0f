#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "TokenizerTestSupport.h"
#include "zel/platform/ZELUserDefaults.h"
#include "zel/tokenizer/ZELStringComparison.h"

namespace {

ZELString N(const char* utf8) { return ZELNormalizedCaseInsensitiveComparisonString(U(utf8)); }

// Restores the test locale however a test ends.
class ComparisonLocaleScope {
public:
    explicit ComparisonLocaleScope(const char* identifier) { ZELSetLocaleForUniformZELStringComparison(identifier); }
    ~ComparisonLocaleScope() { ZELSetLocaleForUniformZELStringComparison("en_US"); }
};

// Random keys of a few accented and plain letters, CJK, digits, punctuation and marks, as a
// sorted list holds them (normalized).
class KeyGenerator {
public:
    explicit KeyGenerator(uint32_t seed) : random_(seed) {}

    ZELString key(size_t maximumLength) {
        static const char* const pieces[] = {"a", "b", "c", "e", "z",  "é",  "è",  "ê", "É", "ë", "o", "ö",
                                             "ø", "ç", "日", "本", "語", "か", "が", "1", "2", "9", "#", "-",
                                             ".", " ", "\u0301", "\u0308", "ﬁ", "ǅ", "И", "й", "\U0001D400", "ß"};
        std::uniform_int_distribution<size_t> length(0, maximumLength);
        std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
        std::string text;
        for (size_t n = length(random_); n > 0; --n) text += pieces[piece(random_)];
        return ZELNormalizedCaseInsensitiveComparisonString(U(text.c_str()));
    }

    size_t below(size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
};

bool SortsBefore(const ZELString& a, const ZELString& b) { return compareZELSort(a, b) < 0; }

}  // namespace

TEST(ZELNormalizedCaseInsensitiveComparisonString, DecomposesThenLowerCases) {
    EXPECT_EQ(N("École"), U("e\u0301cole"));
    EXPECT_EQ(N("ÅNGSTRÖM"), U("a\u030Angstro\u0308m"));
    EXPECT_EQ(N("\u212B"), U("a\u030A"));  // ANGSTROM SIGN
    EXPECT_EQ(N("İstanbul"), U("i\u0307stanbul"));  // locale-independent, not Turkish
    EXPECT_EQ(N("Straße"), U("straße"));
    EXPECT_EQ(N("가"), U("\u1100\u1161"));  // Hangul syllables decompose to jamo
    EXPECT_EQ(N("\U0001D400"), U("\U0001D400"));
}

TEST(ZELStringComparison, LettersSortBeforeDigitsPunctuationAndSymbols) {
    EXPECT_LT(compareZELSort(u"apple", u"42nd"), 0);
    EXPECT_LT(compareZELSort(u"apple", u"#tag"), 0);
    EXPECT_GT(compareZELSort(u"\u2764", u"zebra"), 0);  // a symbol
    EXPECT_GT(compareZELSort(u"\U0001F600", u"zebra"), 0);  // a symbol beyond the basic plane
    EXPECT_LT(compareZELSort(u"", u"#"), 0);
    EXPECT_LT(compareZELSort(u"#tag", u"42"), 0);  // within a group by code point
}

TEST(ZELStringComparison, DiacriticsDecideOnlyBetweenOtherwiseEqualTexts) {
    std::vector<ZELString> keys = {N("eda"), N("école"), N("ecz"), N("e-mail"), N("ecole"), N("éa")};
    std::sort(keys.begin(), keys.end(), SortsBefore);
    EXPECT_EQ(keys, (std::vector<ZELString>{N("e-mail"), N("éa"), N("ecole"), N("école"), N("ecz"), N("eda")}));
    // Canonically equivalent forms are equal; different texts never are.
    EXPECT_EQ(compareZELSort(u"\u00E9", u"e\u0301"), 0);
    EXPECT_NE(compareZELSort(u"e\u0301", u"e\u0300"), 0);
    EXPECT_NE(compareZELSort(u"a", u"A"), 0);
    // A base character sorts before the same character with a mark, whatever its code point.
    EXPECT_LT(compareZELSort(N("ии"), N("йи")), 0);
    EXPECT_LT(compareZELSort(N("かか"), N("がか")), 0);
}

TEST(ZELStringComparison, PrefixTestIgnoresDiacriticsButNotCase) {
    EXPECT_TRUE(hasZELSortPrefix(N("école"), u"ec"));
    EXPECT_TRUE(hasZELSortPrefix(u"\u00E9cole", u"e"));
    EXPECT_TRUE(hasZELSortPrefix(u"ecole", u"\u00E9"));
    EXPECT_TRUE(hasZELSortPrefix(u"", u""));
    EXPECT_FALSE(hasZELSortPrefix(u"", u"a"));
    EXPECT_FALSE(hasZELSortPrefix(u"Ecole", u"ec"));
    EXPECT_FALSE(hasZELSortPrefix(u"ec", u"eco"));
    EXPECT_TRUE(hasZELSortPrefix(N("がっこう"), N("か")));
    EXPECT_EQ(ZELSortPrefixLowerBound(u"\u00E9c"), U("ec"));
}

// The sorted lists enumerate a prefix from its lower bound and stop at the first key that fails
// the prefix test: sound only when the keys passing the test are one run starting there.
TEST(ZELStringComparison, KeysWithAPrefixFormOneRunFromThePrefixLowerBound) {
    KeyGenerator generator(20240611);
    for (int round = 0; round < 60; ++round) {
        std::set<ZELString, bool (*)(const ZELString&, const ZELString&)> unique(SortsBefore);
        for (int i = 0; i < 120; ++i) unique.insert(generator.key(5));
        const std::vector<ZELString> keys(unique.begin(), unique.end());
        for (size_t i = 1; i < keys.size(); ++i) {
            ASSERT_LT(compareZELSort(keys[i - 1], keys[i]), 0);
            ASSERT_GT(compareZELSort(keys[i], keys[i - 1]), 0);
        }
        for (int probe = 0; probe < 40; ++probe) {
            ZELString prefix;
            if (probe % 2 == 0 && !keys.empty()) {
                const ZELString& key = keys[generator.below(keys.size())];
                prefix = key.substr(0, generator.below(key.size() + 1));
                if (!prefix.empty() && prefix.back() >= 0xD800 && prefix.back() < 0xDC00) prefix.pop_back();
            } else {
                prefix = generator.key(3);
            }
            std::vector<ZELString> expected;
            for (const ZELString& key : keys) {
                if (hasZELSortPrefix(key, prefix)) expected.push_back(key);
            }
            const ZELString lowerBound = ZELSortPrefixLowerBound(prefix);
            ASSERT_TRUE(hasZELSortPrefix(lowerBound, prefix));
            auto key = std::lower_bound(keys.begin(), keys.end(), lowerBound, SortsBefore);
            std::vector<ZELString> run;
            for (; key != keys.end() && hasZELSortPrefix(*key, prefix); ++key) run.push_back(*key);
            ASSERT_EQ(run, expected) << "prefix " << ZELStringToUTF8(prefix);
            // A prefix without diacritics is its own lower bound.
            if (lowerBound == prefix) {
                ASSERT_EQ(std::lower_bound(keys.begin(), keys.end(), prefix, SortsBefore) - keys.begin(),
                          std::lower_bound(keys.begin(), keys.end(), lowerBound, SortsBefore) - keys.begin());
            }
        }
    }
}

TEST(ZELStringComparison, SortOrderIsAStrictTotalOrder) {
    KeyGenerator generator(7);
    std::vector<ZELString> keys;
    for (int i = 0; i < 150; ++i) keys.push_back(generator.key(4));
    for (const ZELString& a : keys) {
        EXPECT_EQ(compareZELSort(a, a), 0);
        for (const ZELString& b : keys) {
            const int ab = compareZELSort(a, b);
            ASSERT_EQ(ab, -compareZELSort(b, a));
            ASSERT_EQ(ab == 0, ZELNormalizedCaseInsensitiveComparisonString(a) == ZELNormalizedCaseInsensitiveComparisonString(b));
        }
    }
    for (int i = 0; i < 20000; ++i) {
        const ZELString& a = keys[generator.below(keys.size())];
        const ZELString& b = keys[generator.below(keys.size())];
        const ZELString& c = keys[generator.below(keys.size())];
        if (compareZELSort(a, b) < 0 && compareZELSort(b, c) < 0) {
            ASSERT_LT(compareZELSort(a, c), 0);
        }
    }
}

TEST(ZELStringComparison, LocalizedAndNumericalOrders) {
    EXPECT_LT(compareZELLocalized(u"apple", u"Banana"), 0);
    EXPECT_GT(compareZELLocalized(u"Apple", u"apple"), 0);
    EXPECT_EQ(compareZELLocalizedCaseInsensitive(u"Apple", u"aPPLE"), 0);
    EXPECT_NE(compareZELLocalizedCaseInsensitive(u"resume", u"résumé"), 0);
    EXPECT_EQ(compareZELLocalized(u"\u00E9", u"e\u0301"), 0);
    EXPECT_LT(compareZELLocalized(u"zebra", u"1st"), 0);  // letters first
    EXPECT_LT(compareZELLocalized(u"öl", u"zebra"), 0);
    {
        const ComparisonLocaleScope swedish("sv_SE");
        EXPECT_GT(compareZELLocalized(u"öl", u"zebra"), 0);  // ö follows z in Swedish
        EXPECT_EQ(localeForUniformZELStringComparison(), "sv_SE");
    }
    EXPECT_LT(compareZELLocalized(u"öl", u"zebra"), 0);

    // The localized prefix test ignores diacritics but not case.
    EXPECT_TRUE(hasZELLocalizedPrefix(u"école", u"ec"));
    EXPECT_TRUE(hasZELLocalizedPrefix(u"e\u0301cole", u"\u00E9co"));
    EXPECT_FALSE(hasZELLocalizedPrefix(u"Ecole", u"ec"));
    EXPECT_FALSE(hasZELLocalizedPrefix(u"the ecole", u"ec"));
    EXPECT_TRUE(hasZELLocalizedPrefix(u"", u""));

    // The numerical sort orders numbers by their value.
    EXPECT_LT(compareByZELNumericalSort(u"2", u"10"), 0);
    EXPECT_LT(compareByZELNumericalSort(u"file2", u"file10"), 0);
    EXPECT_LT(compareByZELNumericalSort(u"987", u"2024"), 0);
}

TEST(ZELStringComparison, TheLocaleIsKeptInTheUserDefaults) {
    ZELUserDefaults& defaults = ZELUserDefaults::standard();
    ASSERT_EQ(defaults.filePath().rfind(getenv("XDG_CONFIG_HOME"), 0), 0u) << "not the scratch folder";
    // Nothing kept: the current locale is taken and stored.
    defaults.removeObjectForKey(ZELStringComparisonLocaleDefaultsKey);
    {
        const ComparisonLocaleScope forget("");
        EXPECT_EQ(localeForUniformZELStringComparison(), ZELCurrentUserLocaleIdentifier());
        EXPECT_EQ(defaults.objectForKey(ZELStringComparisonLocaleDefaultsKey),
                  ZELValue::fromUTF8(ZELCurrentUserLocaleIdentifier()));
    }
    // A kept locale wins over the current one.
    defaults.setObject(ZELStringComparisonLocaleDefaultsKey, ZELValue(U("de_DE")));
    {
        const ComparisonLocaleScope forget("");
        EXPECT_EQ(localeForUniformZELStringComparison(), "de_DE");
    }
    // Something that is not a locale identifier is replaced by the current locale.
    defaults.setObject(ZELStringComparisonLocaleDefaultsKey, ZELValue(42));
    {
        const ComparisonLocaleScope forget("");
        EXPECT_EQ(localeForUniformZELStringComparison(), ZELCurrentUserLocaleIdentifier());
    }
}

TEST(ZELStringComparison, SmallTextOperations) {
    EXPECT_EQ(stringWithZELID(4294967295u), U("4294967295"));
    EXPECT_EQ(ZELIDValue(u"  1234abc"), 1234u);
    EXPECT_EQ(ZELIDValue(u"-3"), ZELNoID);
    EXPECT_EQ(ZELIDValue(u"4294967296"), ZELNoID);
    EXPECT_EQ(ZELStringIntegerValue(u"+17"), 17);
    EXPECT_EQ(ZELStringIntegerValue(u"x17"), 0);
    EXPECT_EQ(ZELStringIntegerValue(u"99999999999999999999"), INT64_MAX);
    EXPECT_EQ(ZELStringIntegerValue(u"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(nonwhitespaceCharacterRangeForRange(u"  ab c \n", ZELRange{0, 8}), (ZELRange{2, 4}));
    EXPECT_EQ(nonwhitespaceCharacterRangeForRange(u"  ab c \n", ZELRange{4, 1}), ZELRange::notFound());
}
