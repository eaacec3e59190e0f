#include <unicode/uloc.h>

#include <atomic>
#include <mutex>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELUserDefaults.h"
#include "zel/tokenizer/ZELStringComparison+Private.h"
#include "zel/tokenizer/ZELStringComparison.h"

const char* const ZELStringComparisonLocaleDefaultsKey = "com.tarvo.ZEL.stringComparisonLocale";

namespace {

// The process's comparison locale. Resolved at first use and then only replaced through
// ZELSetLocaleForUniformZELStringComparison.
struct ComparisonLocale {
    std::mutex lock;
    std::string identifier;  // guarded by lock
    bool resolved = false;   // guarded by lock
    std::atomic<uint64_t> generation{1};
};

ComparisonLocale& comparisonLocale() {
    static ComparisonLocale locale;
    return locale;
}

// The identifier kept in the user defaults, or "" when none is kept or it is not a locale
// identifier ICU can read.
std::string storedLocaleIdentifier() {
    const ZELValue stored = ZELUserDefaults::standard().objectForKey(ZELStringComparisonLocaleDefaultsKey);
    if (!stored.isString() || stored.stringValue().empty()) return {};
    const std::string identifier = stored.utf8Value();
    char canonical[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    uloc_canonicalize(identifier.c_str(), canonical, sizeof canonical, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) {
        ZELLogFormat("unreadable string comparison locale \"%s\" replaced", identifier.c_str());
        return {};
    }
    return identifier;
}

std::string resolveLocaleIdentifier() {
    std::string identifier = storedLocaleIdentifier();
    if (!identifier.empty()) return identifier;
    identifier = ZELCurrentUserLocaleIdentifier();
    ZELUserDefaults& defaults = ZELUserDefaults::standard();
    defaults.setObject(ZELStringComparisonLocaleDefaultsKey, ZELValue::fromUTF8(identifier));
    ZELError error;
    if (!defaults.synchronize(&error)) {
        ZELLogFormat("string comparison locale not saved: %s", error.description().c_str());
    }
    return identifier;
}

}  // namespace

std::string localeForUniformZELStringComparison() {
    ComparisonLocale& locale = comparisonLocale();
    std::lock_guard<std::mutex> guard(locale.lock);
    if (!locale.resolved) {
        locale.identifier = resolveLocaleIdentifier();
        locale.resolved = true;
    }
    return locale.identifier;
}

void ZELSetLocaleForUniformZELStringComparison(std::string localeIdentifier) {
    ComparisonLocale& locale = comparisonLocale();
    std::lock_guard<std::mutex> guard(locale.lock);
    locale.resolved = !localeIdentifier.empty();
    locale.identifier = std::move(localeIdentifier);
    locale.generation.fetch_add(1, std::memory_order_release);
}

uint64_t ZELStringComparisonLocaleGeneration() {
    return comparisonLocale().generation.load(std::memory_order_acquire);
}

std::string ZELCurrentUserLocaleIdentifier() {
    const std::string identifier = uloc_getDefault();
    char language[ULOC_LANG_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(identifier.c_str(), language, sizeof language, &status);
    const std::string languageCode = U_SUCCESS(status) ? language : "";
    char variant[ULOC_FULLNAME_CAPACITY] = "";
    status = U_ZERO_ERROR;
    uloc_getVariant(identifier.c_str(), variant, sizeof variant, &status);
    const bool posix = U_SUCCESS(status) && std::string_view(variant) == "POSIX";
    if (languageCode.empty() || languageCode == "c" || languageCode == "posix" || posix) return "root";
    return identifier;
}
