#include <gtest/gtest.h>

#include "TokenizerTestSupport.h"
#include "zel/tokenizer/ZELDetectedTextInfo.h"
#include "zel/tokenizer/ZELDetectedTextLinkTokenizer.h"

namespace {

std::optional<ZELTokenSet> LinkTokensOf(const char* utf8) {
    ZELDetectedTextInfo record;
    record.addTokensFromString(U(utf8));
    return record.linkTokens();
}

// The URL text that the range finder answers for the first "://".
std::string FirstURL(const char* utf8) {
    const ZELString text = U(utf8);
    ZELRange scheme;
    ZELRange delimiter;
    const ZELRange url = ZELDetectedTextInfo::rangeOfURLInString(text, &scheme, &delimiter);
    if (url.isNotFound()) return "(none)";
    return ZELStringToUTF8(text.substr(url.location, url.length));
}

}  // namespace

TEST(ZELDetectedTextInfo, LinkTokensNameSchemeURLHostSuffixesAndPathWords) {
    EXPECT_EQ(LinkTokensOf("visit s://w.x.yy/p/q.r now"),
              Tokens({"s:", "s://w.x.yy/p/q.r", "w.x.yy", ".yy", ".x.yy", "x.yy", "p", "q.r"}));
    EXPECT_EQ(LinkTokensOf("https://www.example.com/docs/read-me?lang=en#top"),
              Tokens({"https:", "https://www.example.com/docs/read-me?lang=en#top", "www.example.com", ".com",
                      "example.com", "docs", "read", "read-me", "me", "?", "lang", "=", "en", "#", "top"}));
    // A URL without path is all host.
    EXPECT_EQ(LinkTokensOf("http://example.org"), Tokens({"http:", "http://example.org", "example.org", ".org"}));
    // Two URLs in one text.
    EXPECT_EQ(LinkTokensOf("a://b c+d://e"), Tokens({"a:", "a://b", "b", "c+d:", "c+d://e", "e"}));
}

TEST(ZELDetectedTextInfo, SchemesStopAtCapitalsAndForeignCharacters) {
    EXPECT_FALSE(LinkTokensOf("HTTP://host/x").has_value());
    EXPECT_FALSE(LinkTokensOf("no links here: just text").has_value());
    EXPECT_FALSE(LinkTokensOf("://lonely").has_value());
    // The scheme starts after the last character outside the set.
    EXPECT_EQ(LinkTokensOf("xHTTPs://h"), Tokens({"s:", "s://h", "h"}));
}

TEST(ZELDetectedTextInfo, URLsEndBeforeTrailingPunctuation) {
    EXPECT_EQ(FirstURL("(see http://a.example.com/x), more"), "http://a.example.com/x");
    EXPECT_EQ(FirstURL("end: http://a.b/c/. Next"), "http://a.b/c");
    EXPECT_EQ(FirstURL("at the end http://a.b/c)."), "http://a.b/c).");  // no whitespace after it
    EXPECT_EQ(FirstURL("http://) x"), "http://");  // the punctuation right after "://" is taken in
    EXPECT_EQ(FirstURL("no delimiter"), "(none)");
    const ZELString text = U("a://bc/. z");
    EXPECT_EQ(ZELDetectedTextInfo::terminalRangeOfURLInString(text, ZELRange{1, 3}), (ZELRange{6, 3}));
    EXPECT_EQ(ZELDetectedTextInfo::terminalRangeOfURLInString(U("a://bc"), ZELRange{1, 3}), (ZELRange{6, 0}));
}

TEST(ZELDetectedTextInfo, AttributedLinksAddSchemeURLAndResourceWords) {
    const ZELString text = U("click here or mail me");
    const std::vector<ZELTextLink> links = {{ZELRange{6, 4}, U("https://www.example.org/a-b")},
                                            {ZELRange{14, 4}, U("mailto:me@example.org")}};
    ZELDetectedTextInfo record;
    record.addTokensFromAttributedString(text, links, [](const ZELString& url) { return url.rfind(u"https:", 0) == 0; });
    EXPECT_EQ(record.linkTokens(), Tokens({"https", "https://www.example.org/a-b", "www.example.org", "a", "a-b", "b"}));

    ZELDetectedTextInfo everything;
    everything.addTokensFromAttributedString(text, links, nullptr);
    ASSERT_TRUE(everything.linkTokens());
    EXPECT_TRUE(everything.linkTokens()->count(U("mailto")));
    EXPECT_TRUE(everything.linkTokens()->count(U("me@example.org")));
}

TEST(ZELDetectedTextInfo, SingleTokensAndURLStrings) {
    ZELDetectedTextInfo record;
    EXPECT_FALSE(record.linkTokens().has_value());
    record.addLinkToken(u"");
    EXPECT_FALSE(record.linkTokens().has_value());
    record.addLinkTokensFromURLString(U("first ftp://f.io/x then gopher://g.io"));
    EXPECT_EQ(record.linkTokens(), Tokens({"ftp:", "ftp://f.io/x", "f.io", ".io", "x"}));
    record.addLinkTokensByWordTokenizing(U("a / b . c"));
    EXPECT_EQ(record.linkTokens(), Tokens({"ftp:", "ftp://f.io/x", "f.io", ".io", "x", "a", "b", "c"}));
}

TEST(ZELDetectedTextLinkTokenizer, YieldsTheRecordsLinkTokensUncut) {
    const auto tokenizer = ZELTokenizer::tokenizer<ZELDetectedTextLinkTokenizer>();
    auto record = std::make_shared<ZELDetectedTextInfo>();
    const std::string longPath(450, 'p');
    record->addTokensFromString(U(("http://h.io/" + longPath).c_str()));
    const auto tokens = tokenizer->tokensForValue(ZELValue(std::static_pointer_cast<ZELObject>(record)));
    EXPECT_EQ(tokens, record->linkTokens());
    ASSERT_TRUE(tokens);
    EXPECT_TRUE(tokens->count(U(("http://h.io/" + longPath).c_str())));  // longer than 400 units

    auto other = std::make_shared<ZELDetectedTextInfo>();
    other->addLinkToken(u"extra");
    const ZELValue list(ZELValue::Array{ZELValue(std::static_pointer_cast<ZELObject>(record)),
                                        ZELValue(std::static_pointer_cast<ZELObject>(other))});
    const auto listTokens = tokenizer->tokensForValue(list);
    ASSERT_TRUE(listTokens);
    EXPECT_EQ(listTokens->size(), tokens->size() + 1);

    EXPECT_FALSE(tokenizer->tokensForValue(ZELValue(U("http://not.a/record"))).has_value());
    EXPECT_FALSE(tokenizer->tokensForValue(ZELValue(std::make_shared<ZELDetectedTextInfo>())).has_value());
    const auto base = ZELTokenizer::tokenizer<ZELDetectedTextInfoTokenizer>();
    EXPECT_FALSE(base->tokensForValue(ZELValue(std::static_pointer_cast<ZELObject>(record))).has_value());
}
