#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/tokenizer/ZELRange.h"
#include "zel/tokenizer/ZELTokenizerState.h"

class ZELWordTokenizer;

// A link of an attributed text: the stretch of the text it covers and its URL.
struct ZELTextLink {
    ZELRange range;
    ZELString url;
};

// The links found in a text, as link tokens: each URL's scheme, the whole URL, its host and
// host suffixes, and the words after "://". The host fills a record before the item is
// indexed and hands it to ZELDetectedTextLinkTokenizer through the aspect's getter (as an
// object value). Not guarded: filled on one thread, then only read; its token set only grows.
class ZELDetectedTextInfo : public ZELObject {
public:
    ZELDetectedTextInfo();
    ~ZELDetectedTextInfo() override;

    // Adds the link tokens of every URL in `text` whose scheme is not empty.
    void addTokensFromString(std::u16string_view text);

    // Adds the link tokens of the plain text, then, for each link that `criteria` accepts
    // (every link when `criteria` is empty), the URL's scheme, the URL and the words of what
    // follows the scheme's ":".
    void addTokensFromAttributedString(std::u16string_view text, const std::vector<ZELTextLink>& links,
                                       const std::function<bool(const ZELString& url)>& criteria);

    // The link tokens of the first URL of `text`, when it has one with a scheme.
    void addLinkTokensFromURLString(std::u16string_view text);

    // The link tokens of one URL: "scheme:", the URL, the host (up to the first host
    // terminator after "://", or all of it), its last ".suffix", for a two-letter suffix also
    // the one before (".x.yy"), for a host of three or more parts the host without its first
    // part, and the words after "://". Deliberately unlike the older rule, which gave the host
    // tokens only when a host terminator follows: a link without path ("http://example.org")
    // has a host all the same, and its host and suffix tokens are given too. Items indexed by
    // the older rule stay searchable; a link without path among them lacks only those tokens.
    void addLinkTokensFromString(std::u16string_view text, ZELRange urlRange, ZELRange schemeRange,
                                 ZELRange schemeDelimiterRange);

    // Adds the word tokenizer's tokens of `text`, then removes the tokens "." and "/".
    void addLinkTokensByWordTokenizing(std::u16string_view text);

    // Adds one token; an empty text is ignored.
    void addLinkToken(std::u16string_view token);

    // The tokens found; none before the first.
    const std::optional<ZELTokenSet>& linkTokens() const { return linkTokens_; }

    // Where the URL whose "://" is `schemeDelimiterRange` ends: the first whitespace or
    // newline after it, extended back over trailing "/)>}],.;:" (the URL's text ends where the
    // answer begins); {length of text, 0} when the URL runs to the end of the text.
    static ZELRange terminalRangeOfURLInString(std::u16string_view text, ZELRange schemeDelimiterRange);

    // The URL around a "://": from the start of its scheme (the lowercase letters, digits and
    // ".-+" right before the delimiter) to its terminal range. The scheme range is passed out.
    static ZELRange rangeOfURLInString(std::u16string_view text, ZELRange schemeDelimiterRange,
                                       ZELRange* outSchemeRange);

    // The URL of the first "://" of `text`, passing out its scheme and delimiter ranges;
    // {ZELNotFound, 0} when there is no delimiter or the URL is empty.
    static ZELRange rangeOfURLInString(std::u16string_view text, ZELRange* outSchemeRange,
                                       ZELRange* outSchemeDelimiterRange);

    std::string description() const override;

private:
    std::optional<ZELTokenSet> linkTokens_;
    std::shared_ptr<ZELWordTokenizer> wordTokenizer_;  // made at first use
};
