#include "zel/tokenizer/ZELTokenizer.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>

#include "zel/platform/ZELError.h"
#include "zel/tokenizer/ZELBoolTokenizer.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELDetectedTextLinkTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELJapaneseTokenizer.h"
#include "zel/tokenizer/ZELNonEmptyTokenTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

const char16_t* const ZELTokenizerToken_True = u"yes";
const char16_t* const ZELTokenizerToken_False = u"no";

namespace {

// Keys of the serialized representation, as stored in "aspects.plist".
constexpr std::string_view kTokenizerClassKey = "TokenizerClass";
constexpr std::string_view kClientObjectClassKey = "ClientObjectClass";
constexpr std::string_view kClientObjectGetterKey = "ClientObjectGetter";

template <typename T>
void registerBuiltIn(const char* name) {
    ZELRegistry<ZELTokenizerClass>::shared().registerEntry(
        name, ZELTokenizerClass{[](const ZELValue&) -> std::shared_ptr<ZELTokenizer> { return std::make_shared<T>(); }});
}

// The library's own tokenizer classes, registered once, before the first registration or
// lookup (so that a host may replace one of them).
void registerBuiltInTokenizerClasses() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        registerBuiltIn<ZELTokenizer>("ZELTokenizer");
        registerBuiltIn<ZELIdentityValueTokenizer>("ZELIdentityValueTokenizer");
        registerBuiltIn<ZELNonEmptyTokenTokenizer>("ZELNonEmptyTokenTokenizer");
        registerBuiltIn<ZELBoolTokenizer>("ZELBoolTokenizer");
        registerBuiltIn<ZELWhitespaceTokenizer>("ZELWhitespaceTokenizer");
        registerBuiltIn<ZELWordTokenizer>("ZELWordTokenizer");
        registerBuiltIn<ZELJapaneseTokenizer>("ZELJapaneseTokenizer");
        registerBuiltIn<ZELDateTokenizer>("ZELDateTokenizer");
        registerBuiltIn<ZELDateYearTokenizer>("ZELDateYearTokenizer");
        registerBuiltIn<ZELDateMonthTokenizer>("ZELDateMonthTokenizer");
        registerBuiltIn<ZELDateDayTokenizer>("ZELDateDayTokenizer");
        registerBuiltIn<ZELDateHourTokenizer>("ZELDateHourTokenizer");
        registerBuiltIn<ZELDateMinuteTokenizer>("ZELDateMinuteTokenizer");
        registerBuiltIn<ZELDateSecondTokenizer>("ZELDateSecondTokenizer");
        registerBuiltIn<ZELDateWeekdayTokenizer>("ZELDateWeekdayTokenizer");
        registerBuiltIn<ZELDetectedTextInfoTokenizer>("ZELDetectedTextInfoTokenizer");
        registerBuiltIn<ZELDetectedTextLinkTokenizer>("ZELDetectedTextLinkTokenizer");
    });
}

// A non-empty name under `key`, or "" when the key is absent, empty or not a string.
std::string nameForKey(const ZELValue& representation, std::string_view key) {
    const ZELValue* value = representation.valueForKey(key);
    return value && value->isString() ? value->utf8Value() : std::string();
}

// The full case folding of `text`, for finding typed tokens whatever their case. Folding may
// change lengths, but it keeps the order of positions, which is all the caller compares.
ZELString foldedCase(std::u16string_view text) {
    ZELString folded(text.size() + 8, u'\0');
    const int32_t length = text.size() > INT32_MAX / 4 ? INT32_MAX / 4 : static_cast<int32_t>(text.size());
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t written = u_strFoldCase(reinterpret_cast<UChar*>(folded.data()),
                                              static_cast<int32_t>(folded.size()),
                                              reinterpret_cast<const UChar*>(text.data()), length,
                                              U_FOLD_CASE_DEFAULT, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            folded.resize(static_cast<size_t>(written));
            continue;
        }
        if (U_FAILURE(status)) break;
        folded.resize(static_cast<size_t>(written));
        return folded;
    }
    return ZELString(text);
}

}  // namespace

std::shared_ptr<const ZELTokenizerItemClass> ZELTokenizerItemClass::itemClassNamed(std::string_view name) {
    std::optional<ZELTokenizerItemClass> found = ZELRegistry<ZELTokenizerItemClass>::shared().entryNamed(name);
    if (!found) return nullptr;
    return std::make_shared<const ZELTokenizerItemClass>(std::move(*found));
}

void ZELTokenizer::registerTokenizerClass(std::string name, ZELTokenizerClass tokenizerClass) {
    registerBuiltInTokenizerClasses();
    ZELRegistry<ZELTokenizerClass>::shared().registerEntry(std::move(name), std::move(tokenizerClass));
}

std::optional<ZELTokenizerClass> ZELTokenizer::tokenizerClassNamed(std::string_view name) {
    registerBuiltInTokenizerClasses();
    return ZELRegistry<ZELTokenizerClass>::shared().entryNamed(name);
}

std::shared_ptr<ZELTokenizer> ZELTokenizer::tokenizerForSerializedRepresentation(const ZELValue& representation,
                                                                             ZELError* outError) {
    if (!representation.isDictionary()) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                                              "expected dictionary for tokenizer definition"));
        return nullptr;
    }
    // From here on a missing class is "tokenizer not available", not an error.
    if (outError) *outError = ZELError();
    const std::string className = nameForKey(representation, kTokenizerClassKey);
    if (className.empty()) return nullptr;
    const std::optional<ZELTokenizerClass> tokenizerClass = tokenizerClassNamed(className);
    if (!tokenizerClass || !tokenizerClass->make) return nullptr;
    std::shared_ptr<ZELTokenizer> made = tokenizerClass->make(representation);
    if (!made) return nullptr;
    made->setClientObjectValueGetter(nameForKey(representation, kClientObjectGetterKey));
    const std::string itemClassName = nameForKey(representation, kClientObjectClassKey);
    if (!itemClassName.empty()) {
        std::shared_ptr<const ZELTokenizerItemClass> itemClass = ZELTokenizerItemClass::itemClassNamed(itemClassName);
        if (!itemClass) return nullptr;
        made->setClientObjectRequiredClass(std::move(itemClass));
    }
    return made;
}

const ZELTokenSet& ZELTokenizer::trueTokenSet() {
    static const ZELTokenSet tokens{ZELString(ZELTokenizerToken_True)};
    return tokens;
}

const ZELTokenSet& ZELTokenizer::falseTokenSet() {
    static const ZELTokenSet tokens{ZELString(ZELTokenizerToken_False)};
    return tokens;
}

ZELValue ZELTokenizer::serializedRepresentation() const {
    ZELValue::Dictionary representation;
    representation.emplace(ZELStringFromUTF8(kTokenizerClassKey), ZELValue::fromUTF8(className()));
    if (const auto requiredClass = clientObjectRequiredClass()) {
        representation.emplace(ZELStringFromUTF8(kClientObjectClassKey), ZELValue::fromUTF8(requiredClass->name));
    }
    if (!clientObjectValueGetter_.empty()) {
        representation.emplace(ZELStringFromUTF8(kClientObjectGetterKey), ZELValue::fromUTF8(clientObjectValueGetter_));
    }
    return ZELValue(std::move(representation));
}

void ZELTokenizer::collectTokensForSingleValue(const ZELValue&, ZELTokenizerState&) const {}

std::optional<ZELTokenSet> ZELTokenizer::tokensForValue(const ZELValue& value) const {
    if (value.isNone()) return std::nullopt;
    ZELTokenizerState state;
    if (value.isArray()) {
        for (const ZELValue& element : value.arrayValue()) collectTokensForSingleValue(element, state);
    } else {
        collectTokensForSingleValue(value, state);
    }
    return state.finalizeCollectedTokens();
}

std::optional<ZELTokenSet> ZELTokenizer::tokensForClientObject(const ZELObject& item) const {
    const std::shared_ptr<const ZELTokenizerItemClass> requiredClass = clientObjectRequiredClass();
    if (requiredClass && !(requiredClass->isKindOfClass && requiredClass->isKindOfClass(item))) {
        return std::nullopt;
    }
    return tokensForValue(clientObjectValue(item));
}

std::vector<ZELString> ZELTokenizer::tokensForUserInput(const ZELString& text) const {
    const std::optional<ZELTokenSet> tokens = tokensForValue(ZELValue(text));
    if (!tokens) return {};
    const ZELString foldedText = foldedCase(text);
    std::vector<std::pair<size_t, const ZELString*>> placed;
    placed.reserve(tokens->size());
    for (const ZELString& token : *tokens) {
        const size_t position = foldedText.find(foldedCase(token));
        placed.emplace_back(position == ZELString::npos ? SIZE_MAX : position, &token);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ZELString> ordered;
    ordered.reserve(placed.size());
    for (const auto& [position, token] : placed) ordered.push_back(*token);
    return ordered;
}

std::shared_ptr<const ZELTokenizerItemClass> ZELTokenizer::clientObjectRequiredClass() const {
    std::lock_guard<std::mutex> guard(requiredClassLock_);
    return clientObjectRequiredClass_;
}

void ZELTokenizer::setClientObjectRequiredClass(std::shared_ptr<const ZELTokenizerItemClass> requiredClass) {
    std::lock_guard<std::mutex> guard(requiredClassLock_);
    clientObjectRequiredClass_ = std::move(requiredClass);
}

ZELValue ZELTokenizer::clientObjectValue(const ZELObject& item) const {
    if (clientObjectValueGetter_.empty()) return ZELValue();
    const std::optional<ZELValueGetter> getter =
        ZELRegistry<ZELValueGetter>::shared().entryNamed(clientObjectValueGetter_);
    if (!getter || !*getter) return ZELValue();
    return (*getter)(item);
}

std::string ZELTokenizer::description() const {
    const auto requiredClass = clientObjectRequiredClass();
    return descriptionHead() + ZELStringWithFormat(" getter %s, class %s",
                                                   clientObjectValueGetter_.empty() ? "(none)" : clientObjectValueGetter_.c_str(),
                                                   requiredClass ? requiredClass->name.c_str() : "(none)");
}
