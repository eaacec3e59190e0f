#include <algorithm>
#include <system_error>

#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELDatabaseChecker.h"
#include "zel/storage/ZELDatabaseItemClassMap.h"
#include "zel/storage/ZELSortedList.h"
#include "zel/tokenizer/ZELStringComparison.h"

// The stores against one another (items and their vectors, values and theirs, the two vector
// stores as inverses, use counts, class tokens) and the sort files against the value store. A
// cross-check runs only over stores read whole, so that one damaged object is reported once.

namespace {

std::string storeName(const char* name) {
    return std::string(ZELDatabase::storageFolderName) + "/" + name;
}

bool contains(const std::vector<ZELID>& ids, ZELID id) {
    return std::binary_search(ids.begin(), ids.end(), id);
}

// "<id> (\"<value>\")" for a finding about an aspect bit.
template <typename Values>
std::string termText(const Values& values, ZELID id) {
    const auto value = values.find(id);
    if (value == values.end()) return std::to_string(id);
    return std::to_string(id) + " (\"" + ZELStringToUTF8(value->second.normalized) + "\")";
}

}  // namespace

void ZELDatabaseChecker::checkItemsAgainstVectors() {
    const bool hasItems = readableStores_.count(ZELDatabase::itemStoreName) != 0;
    const bool hasValues = readableStores_.count(ZELDatabase::aspectValueStoreName) != 0;
    const auto checkKeys = [&](const auto& owners,
                               const std::map<ZELID, std::vector<ZELID>>& vectors,
                               const char* vectorStore, const char* ownerKind) {
        for (const auto& owner : owners) {
            if (!vectors.count(owner.first)) {
                addFinding(storeName(vectorStore),
                           ZELStringWithFormat("%s %u has no vector", ownerKind, owner.first));
            }
        }
        for (const auto& vector : vectors) {
            if (!owners.count(vector.first)) {
                addFinding(storeName(vectorStore), ZELStringWithFormat("vector %u belongs to no %s",
                                                                       vector.first, ownerKind));
            }
        }
    };
    if (hasItems && readableStores_.count(ZELDatabase::aspectBitVectorsStoreName)) {
        checkKeys(itemClassTokens_, itemTerms_, ZELDatabase::aspectBitVectorsStoreName, "item");
    }
    if (hasValues && readableStores_.count(ZELDatabase::itemVectorsStoreName)) {
        checkKeys(values_, termItems_, ZELDatabase::itemVectorsStoreName, "aspect bit");
    }
    if (hasItems && classMap_) {
        for (const auto& [itemID, token] : itemClassTokens_) {
            if (token != 0 && !classMap_->itemClassForToken(token)) {
                addFinding(storeName(ZELDatabase::itemStoreName),
                           ZELStringWithFormat("item %u has class token %u, which the class map "
                                               "lacks",
                                               itemID, token));
            }
        }
    }
}

void ZELDatabaseChecker::checkVectorInverses() {
    if (!readableStores_.count(ZELDatabase::aspectBitVectorsStoreName) ||
        !readableStores_.count(ZELDatabase::itemVectorsStoreName)) {
        return;
    }
    for (const auto& [itemID, terms] : itemTerms_) {
        for (const ZELID term : terms) {
            const auto items = termItems_.find(term);
            if (items == termItems_.end() || !contains(items->second, itemID)) {
                addFinding(storeName(ZELDatabase::itemVectorsStoreName),
                           ZELStringWithFormat("aspect bit %u lacks item %u, whose vector lists it",
                                               term, itemID));
            }
        }
    }
    for (const auto& [term, items] : termItems_) {
        for (const ZELID itemID : items) {
            const auto terms = itemTerms_.find(itemID);
            if (terms == itemTerms_.end() || !contains(terms->second, term)) {
                addFinding(storeName(ZELDatabase::aspectBitVectorsStoreName),
                           ZELStringWithFormat("item %u lacks aspect bit %u, whose vector lists it",
                                               itemID, term));
            }
        }
    }
}

void ZELDatabaseChecker::checkUseCounts() {
    if (!readableStores_.count(ZELDatabase::aspectValueStoreName) ||
        !readableStores_.count(ZELDatabase::aspectBitVectorsStoreName)) {
        return;
    }
    std::map<ZELID, uint64_t> carriers;
    for (const auto& entry : itemTerms_) {
        for (const ZELID term : entry.second) ++carriers[term];
    }
    for (const auto& [term, value] : values_) {
        // The record keeps the low 32 bits of the count.
        const uint64_t count = carriers[term] & 0xFFFFFFFF;
        if (value.useCount != count) {
            addFinding(storeName(ZELDatabase::aspectValueStoreName),
                       ZELStringWithFormat("use count of aspect bit %s is %llu, but %llu items "
                                           "carry it",
                                           termText(values_, term).c_str(),
                                           static_cast<unsigned long long>(value.useCount),
                                           static_cast<unsigned long long>(count)));
        }
    }
}

void ZELDatabaseChecker::readSortFiles() {
    const std::filesystem::path folder = folderURL_ / ZELDatabase::aspectsFolderName;
    std::set<std::filesystem::path> urls;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        // Hidden entries are the temporary folders of atomic replacement.
        const std::string name = it->path().filename().string();
        if (it->path().extension() == ".sort" && name.front() != '.') urls.insert(it->path());
    }
    for (const std::filesystem::path& url : urls) {
        SortFile file{relativePath(url), {}, false};
        if (aspectSortFileNames_ && !aspectSortFileNames_->count(url.filename().string())) {
            addFinding(file.name, "no aspect in aspects.plist keeps its list here");
        }
        std::filesystem::path base = url;
        base.replace_extension();
        // Only the IDs are read; no key is ever asked for.
        auto list = ZELSortedList::listWithBaseURL(base.string(),
                                                   [](ZELID, bool) { return ZELSortedListKey(); });
        ZELError loadError;
        if (!list->loadAndGetError(&loadError)) {
            addFinding(file.name, loadError.failureReason());
        } else {
            file.ids.reserve(list->count());
            list->enumerateIDBlocks([&](const ZELID* ids, uint64_t count, bool&) {
                file.ids.insert(file.ids.end(), ids, ids + count);
            });
            file.isReadable = true;
        }
        list->invalidate();
        sortFiles_.push_back(std::move(file));
    }
}

void ZELDatabaseChecker::checkSortFiles() {
    if (!readableStores_.count(ZELDatabase::aspectValueStoreName)) return;
    std::map<ZELID, const std::string*> placedIn;
    bool isEveryFileReadable = true;
    for (const SortFile& file : sortFiles_) {
        isEveryFileReadable &= file.isReadable;
        const ZELString* previous = nullptr;
        uint64_t disorderCount = 0;
        std::string firstDisorder;
        for (const ZELID id : file.ids) {
            const auto value = values_.find(id);
            if (value == values_.end()) {
                addFinding(file.name, ZELStringWithFormat("aspect bit %u has no value", id));
                continue;
            }
            const auto placed = placedIn.emplace(id, &file.name);
            if (!placed.second) {
                addFinding(file.name, "aspect bit " + termText(values_, id) + " is also in " +
                                          *placed.first->second);
            }
            if (previous && compareZELSort(*previous, value->second.normalized) >= 0) {
                if (disorderCount++ == 0) {
                    firstDisorder = "\"" + ZELStringToUTF8(*previous) + "\" before \"" +
                                    ZELStringToUTF8(value->second.normalized) + "\"";
                }
            }
            previous = &value->second.normalized;
        }
        if (disorderCount > 0) {
            addFinding(file.name,
                       ZELStringWithFormat("not in sort order at %llu places, first ",
                                           static_cast<unsigned long long>(disorderCount)) +
                           firstDisorder);
        }
    }
    // A value missing from every list cannot be found by its text; an unreadable list may be
    // the one that holds it, so then nothing is said.
    if (!isEveryFileReadable) return;
    for (const auto& entry : values_) {
        if (!placedIn.count(entry.first)) {
            addFinding(storeName(ZELDatabase::aspectValueStoreName),
                       "aspect bit " + termText(values_, entry.first) + " is in no sort file");
        }
    }
}

std::vector<std::vector<ZELID>> ZELDatabaseChecker::derivedSortFileIDs() const {
    std::vector<std::vector<ZELID>> derived(sortFiles_.size());
    std::set<ZELID> placed;
    std::vector<size_t> unreadable;
    for (size_t i = 0; i < sortFiles_.size(); ++i) {
        if (!sortFiles_[i].isReadable) unreadable.push_back(i);
        for (const ZELID id : sortFiles_[i].ids) {
            if (values_.count(id) && placed.insert(id).second) derived[i].push_back(id);
        }
    }
    // The value store does not say which aspect a value belongs to: values in no list go to
    // the one list that can have lost them, when there is exactly one.
    if (unreadable.empty() && sortFiles_.size() == 1) unreadable.push_back(0);
    if (unreadable.size() == 1) {
        for (const auto& entry : values_) {
            if (placed.insert(entry.first).second) derived[unreadable[0]].push_back(entry.first);
        }
    }
    for (std::vector<ZELID>& ids : derived) {
        std::stable_sort(ids.begin(), ids.end(), [&](ZELID a, ZELID b) {
            return compareZELSort(values_.at(a).normalized, values_.at(b).normalized) < 0;
        });
    }
    return derived;
}

bool ZELDatabaseChecker::rebuildSortFiles(std::vector<std::string>* outRebuilt,
                                          ZELError* outError) {
    if (!readableStores_.count(ZELDatabase::aspectValueStoreName)) return true;
    const std::vector<std::vector<ZELID>> derived = derivedSortFileIDs();
    for (size_t i = 0; i < sortFiles_.size(); ++i) {
        const SortFile& file = sortFiles_[i];
        if (file.isReadable && file.ids == derived[i]) continue;
        const std::filesystem::path url = folderURL_ / file.name;
        if (derived[i].empty()) {
            // A missing sort file is an empty list.
            std::error_code removeError;
            if (!std::filesystem::remove(url, removeError) && removeError) {
                return ZELSetError(outError, ZELError::errorWithErrno(removeError.value(),
                                                                      "removing " + file.name));
            }
        } else {
            std::map<ZELID, ZELSortedListKey> keys;
            for (const ZELID id : derived[i]) {
                keys[id] = std::make_shared<const ZELString>(values_.at(id).normalized);
            }
            std::filesystem::path base = url;
            base.replace_extension();
            auto list = ZELSortedList::listWithBaseURL(base.string(), [&](ZELID id, bool) {
                const auto key = keys.find(id);
                return key == keys.end() ? ZELSortedListKey() : key->second;
            });
            list->setKeyCompareSelector(
                [](const ZELString& key, const ZELString& other) {
                    return compareZELSort(key, other);
                },
                [](const ZELString& key, const ZELString& prefix) {
                    return hasZELSortPrefix(key, prefix);
                });
            for (const ZELID id : derived[i]) list->assignID(id, *keys[id]);
            const bool written = list->ensureSerializedAndGetError(outError);
            list->invalidate();
            if (!written) return false;
        }
        outRebuilt->push_back(file.name + ": rebuilt from the value store, " +
                              std::to_string(derived[i].size()) + " keys");
    }
    return true;
}
