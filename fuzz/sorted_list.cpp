// Feeds arbitrary bytes to the sorted list's sort-file reader. A file that loads must give a
// list whose count fits in the file, split into slices of at most 1000 IDs, and whose
// searches and enumerations finish whatever order the stored IDs are in; a file that fails
// must leave the list's previous content untouched.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELString.h"
#include "zel/storage/ZELSortedList.h"

namespace {

[[noreturn]] void failWith(const char* what) {
    std::fprintf(stderr, "sorted_list fuzz target: %s\n", what);
    std::abort();
}

// Keys are the IDs in decimal; ID 0 and IDs ending in 7 have no key, like values lost to a
// damaged store.
ZELSortedListKey keyForID(ZELID keyID, bool load) {
    if (!load || keyID == 0 || keyID % 10 == 7) return nullptr;
    return std::make_shared<const ZELString>(ZELStringFromUTF8(std::to_string(keyID)));
}

int compareKeys(const ZELString& a, const ZELString& b) { return a.compare(b); }

bool keyHasPrefix(const ZELString& key, const ZELString& prefix) { return key.starts_with(prefix); }

const std::string& baseURL() {
    static const std::string url = (std::filesystem::temp_directory_path() /
                                    ("zel-fuzz-sorted-list-" + std::to_string(::getpid())))
                                       .string();
    return url;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url = baseURL() + ".sort";
    FILE* file = std::fopen(url.c_str(), "wb");
    if (!file) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    auto list = ZELSortedList::listWithBaseURL(baseURL(), keyForID);
    list->setKeyCompareSelector(compareKeys, keyHasPrefix);
    list->assignID(42, u"42");

    ZELError error;
    const bool loaded = list->loadAndGetError(&error);
    std::filesystem::remove(url);
    if (!loaded) {
        if (!error.isError()) failWith("a failed load reported no error");
        if (list->count() != 1 || list->sliceCount() != 1 || list->assignedIDForKey(u"42") != 42) {
            failWith("a failed load changed the list");
        }
        return 0;
    }
    if (size < 12 + 4 * list->count()) failWith("count larger than the file");
    uint64_t total = 0;
    for (uint64_t index = 0; index < list->sliceCount(); ++index) {
        const uint64_t count = list->sliceAtIndex(index).count();
        if (count == 0 || count > ZELSortedList::loadChunkCount) failWith("bad slice");
        total += count;
    }
    if (total != list->count()) failWith("slices disagree with the count");

    // Searches over IDs in no particular order must end; their answers do not matter.
    list->assignedIDForKey(u"5");
    list->assignID(1000000, u"1000000");
    list->removeAssignedIDForKey(u"3");
    list->enumerateWithKeyPrefix(u"1", [](ZELID, const ZELString&, bool&) {});
    return 0;
}
