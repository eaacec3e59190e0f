#include "zel/tokenizer/ZELDetectedTextInfo.h"

#include "zel/tokenizer/ZELCharacterClasses+Private.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

constexpr std::u16string_view kSchemeDelimiter = u"://";
constexpr std::u16string_view kSchemeCharacters = u"abcdefghijklmnopqrstuvwxyz1234567890.-+";
constexpr std::u16string_view kTrailingURLPunctuation = u"/)>}],.;:";
constexpr std::u16string_view kHostTerminators = u"!/\\[]{}()#<>;\"'|*&?$%^";

bool isIn(std::u16string_view set, char16_t unit) { return set.find(unit) != std::u16string_view::npos; }

// The scheme of an absolute URL text (RFC 3986: a letter, then letters, digits, "+", "-",
// "."), followed by ":"; {0, 0} when the text has none.
ZELRange schemeOfURL(std::u16string_view url) {
    const size_t colon = url.find(u':');
    if (colon == std::u16string_view::npos || colon == 0) return ZELRange{0, 0};
    const auto isLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (!isLetter(url[0])) return ZELRange{0, 0};
    for (size_t i = 1; i < colon; ++i) {
        const char16_t c = url[i];
        if (!isLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') return ZELRange{0, 0};
    }
    return ZELRange{0, colon};
}

}  // namespace

ZELDetectedTextInfo::ZELDetectedTextInfo() = default;
ZELDetectedTextInfo::~ZELDetectedTextInfo() = default;

ZELRange ZELDetectedTextInfo::terminalRangeOfURLInString(std::u16string_view text, ZELRange schemeDelimiterRange) {
    const size_t urlStart = schemeDelimiterRange.end();
    const size_t whitespace = ZELFindWhitespaceOrNewline(text, urlStart);
    if (whitespace == ZELNotFound) return ZELRange{text.size(), 0};
    ZELRange terminal{whitespace, 1};
    while (terminal.location > 0 && isIn(kTrailingURLPunctuation, text[terminal.location - 1])) {
        const bool afterURLStart = terminal.location - 1 > urlStart;
        --terminal.location;
        ++terminal.length;
        if (!afterURLStart) break;
    }
    return terminal;
}

ZELRange ZELDetectedTextInfo::rangeOfURLInString(std::u16string_view text, ZELRange schemeDelimiterRange,
                                                 ZELRange* outSchemeRange) {
    size_t schemeStart = schemeDelimiterRange.location;
    while (schemeStart > 0 && isIn(kSchemeCharacters, text[schemeStart - 1])) --schemeStart;
    const ZELRange terminal = terminalRangeOfURLInString(text, schemeDelimiterRange);
    if (outSchemeRange) *outSchemeRange = ZELRange{schemeStart, schemeDelimiterRange.location - schemeStart};
    return ZELRange{schemeStart, terminal.location - schemeStart};
}

ZELRange ZELDetectedTextInfo::rangeOfURLInString(std::u16string_view text, ZELRange* outSchemeRange,
                                                 ZELRange* outSchemeDelimiterRange) {
    const size_t delimiter = text.find(kSchemeDelimiter);
    if (delimiter == std::u16string_view::npos) {
        if (outSchemeRange) *outSchemeRange = ZELRange::notFound();
        if (outSchemeDelimiterRange) *outSchemeDelimiterRange = ZELRange::notFound();
        return ZELRange::notFound();
    }
    const ZELRange delimiterRange{delimiter, kSchemeDelimiter.size()};
    if (outSchemeDelimiterRange) *outSchemeDelimiterRange = delimiterRange;
    const ZELRange url = rangeOfURLInString(text, delimiterRange, outSchemeRange);
    return url.isEmpty() ? ZELRange::notFound() : url;
}

void ZELDetectedTextInfo::addTokensFromString(std::u16string_view text) {
    size_t position = 0;
    for (;;) {
        const size_t delimiter = text.find(kSchemeDelimiter, position);
        if (delimiter == std::u16string_view::npos) return;
        const ZELRange delimiterRange{delimiter, kSchemeDelimiter.size()};
        ZELRange scheme;
        const ZELRange url = rangeOfURLInString(text, delimiterRange, &scheme);
        if (!url.isEmpty() && !scheme.isEmpty()) {
            addLinkTokensFromString(text, url, scheme, delimiterRange);
            position = url.end();  // past the delimiter: the URL reaches at least to its last "/"
        } else {
            position = delimiterRange.end();
        }
    }
}

void ZELDetectedTextInfo::addLinkTokensFromURLString(std::u16string_view text) {
    ZELRange scheme;
    ZELRange delimiter;
    const ZELRange url = rangeOfURLInString(text, &scheme, &delimiter);
    if (!url.isNotFound() && !scheme.isEmpty()) addLinkTokensFromString(text, url, scheme, delimiter);
}

void ZELDetectedTextInfo::addLinkTokensFromString(std::u16string_view text, ZELRange urlRange,
                                                  ZELRange schemeRange, ZELRange schemeDelimiterRange) {
    if (urlRange.isEmpty()) return;
    if (!schemeRange.isEmpty()) addLinkToken(text.substr(schemeRange.location, schemeRange.length + 1));
    addLinkToken(text.substr(urlRange.location, urlRange.length));
    const size_t restStart = schemeDelimiterRange.end();
    const std::u16string_view rest =
        restStart < urlRange.end() ? text.substr(restStart, urlRange.end() - restStart) : std::u16string_view{};
    // A URL without path, query or fragment is all host (on purpose: see the header).
    const std::u16string_view host = rest.substr(0, rest.find_first_of(kHostTerminators));
    if (!host.empty()) {
        addLinkToken(host);
        const size_t lastDot = host.rfind(u'.');
        if (lastDot != std::u16string_view::npos) {
            const std::u16string_view suffix = host.substr(lastDot);
            addLinkToken(suffix);
            if (suffix.size() == 3 && lastDot > 0) {
                const size_t previousDot = host.rfind(u'.', lastDot - 1);
                if (previousDot != std::u16string_view::npos) addLinkToken(host.substr(previousDot));
            }
            const size_t firstDot = host.find(u'.');
            if (firstDot != lastDot) addLinkToken(host.substr(firstDot + 1));  // three parts or more
        }
    }
    addLinkTokensByWordTokenizing(rest);
}

void ZELDetectedTextInfo::addLinkTokensByWordTokenizing(std::u16string_view text) {
    if (!wordTokenizer_) wordTokenizer_ = std::make_shared<ZELWordTokenizer>();
    const std::optional<ZELTokenSet> words = wordTokenizer_->tokensForValue(ZELValue(ZELString(text)));
    if (words && !words->empty()) {
        if (!linkTokens_) linkTokens_.emplace();
        linkTokens_->insert(words->begin(), words->end());
    }
    if (linkTokens_) {
        linkTokens_->erase(ZELString(u"."));
        linkTokens_->erase(ZELString(u"/"));
    }
}

void ZELDetectedTextInfo::addLinkToken(std::u16string_view token) {
    if (token.empty()) return;
    if (!linkTokens_) linkTokens_.emplace();
    linkTokens_->emplace(token);
}

void ZELDetectedTextInfo::addTokensFromAttributedString(std::u16string_view text,
                                                        const std::vector<ZELTextLink>& links,
                                                        const std::function<bool(const ZELString& url)>& criteria) {
    addTokensFromString(text);
    for (const ZELTextLink& link : links) {
        if (link.url.empty() || (criteria && !criteria(link.url))) continue;
        const std::u16string_view url = link.url;
        const ZELRange scheme = schemeOfURL(url);
        if (!scheme.isEmpty()) addLinkToken(url.substr(0, scheme.length));
        addLinkToken(url);
        addLinkTokensByWordTokenizing(scheme.isEmpty() ? url : url.substr(scheme.length + 1));
    }
}

std::string ZELDetectedTextInfo::description() const {
    return descriptionHead() +
           ZELStringWithFormat(" %zu link tokens", linkTokens_ ? linkTokens_->size() : size_t{0});
}
