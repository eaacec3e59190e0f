// Feeds arbitrary bytes to the zel tool's changelog reader, as changelog text and as a trailer's
// date, and checks what every record it answers must hold: the heading's and trailer's fields,
// texts without a line break where a field is one line, and a count that matches the stats.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ZELChangelogReader.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool isOneLine(const ZELValue& value) {
    if (!value.isString()) return false;
    const ZELString& text = value.stringValue();
    return text.find(u'\n') == ZELString::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ZELReadChangelogDate(input);

    ZELChangelogReadStats stats;
    const auto entries = ZELReadChangelogEntries(input, &stats);
    check(stats.entries == entries.size());
    for (const ZELValue::Dictionary& entry : entries) {
        for (const char16_t* key : {u"package", u"version", u"distribution", u"authorName", u"authorEmail"}) {
            const auto found = entry.find(key);
            check(found != entry.end() && isOneLine(found->second));
        }
        const auto body = entry.find(u"body");
        check(body != entry.end() && body->second.isString());
    }
    return 0;
}
