#include "zel/userquery/ZELUserQueryList.h"

#include <algorithm>

#include "zel/platform/TarvoSecureURL.h"
#include "zel/platform/ZELError.h"
#include "zel/userquery/ZELUserQueryList_FromFolder.h"

const char16_t* const ZELUserQueryListPlistKey_Title = u"title";
const char16_t* const ZELUserQueryListPlistKey_Entries = u"entries";
const char16_t* const ZELUserQueryListPlistKey_Sublists = u"sublists";

std::shared_ptr<ZELUserQueryList> ZELUserQueryList::listWithPlistSerialization(
    const ZELValue& dictionary, ZELError* outError) {
    const ZELValue* entries = dictionary.valueForKey("entries", ZELValue::Kind::Array, outError);
    if (!entries) return nullptr;
    auto list = std::make_shared<ZELUserQueryList>();
    for (const ZELValue& element : entries->arrayValue()) {
        if (element.isDictionary()) {
            list->entries_.push_back(ZELUserQueryListEntry::entryWithPlistSerialization(element));
        }
    }
    if (const ZELValue* sublists = dictionary.valueForKey(ZELUserQueryListPlistKey_Sublists);
        sublists && sublists->isArray()) {
        for (const ZELValue& element : sublists->arrayValue()) {
            if (auto sublist = listWithPlistSerialization(element, nullptr)) {
                list->sublists_.push_back(std::move(sublist));
            }
        }
    }
    if (const ZELValue* title = dictionary.valueForKey(ZELUserQueryListPlistKey_Title);
        title && title->isString()) {
        list->title_ = title->stringValue();
    }
    return list;
}

std::shared_ptr<ZELUserQueryList> ZELUserQueryList::listWithContentsOfFolder(
    std::shared_ptr<TarvoSecureURL> secureURL, uint64_t flags, ZELError* outError) {
    if (!secureURL) return nullptr;
    auto list = std::make_shared<ZELUserQueryList_FromFolder>(std::move(secureURL), flags);
    if (!list->reloadFromDiskAndGetError(outError)) return nullptr;
    return list;
}

ZELValue ZELUserQueryList::plistSerialization() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    ZELValue::Array entries;
    for (const auto& entry : entries_) {
        ZELValue plist = entry->plistSerialization();
        if (!plist.isNone()) entries.push_back(std::move(plist));
    }
    ZELValue::Array sublists;
    for (const auto& sublist : sublists_) {
        ZELValue plist = sublist->plistSerialization();
        if (!plist.isNone()) sublists.push_back(std::move(plist));
    }
    ZELValue::Dictionary dictionary;
    dictionary[ZELUserQueryListPlistKey_Title] = title_ ? *title_ : ZELString(u"{none}");
    dictionary[ZELUserQueryListPlistKey_Entries] = std::move(entries);
    dictionary[ZELUserQueryListPlistKey_Sublists] = std::move(sublists);
    return dictionary;
}

std::optional<ZELString> ZELUserQueryList::title() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return title_;
}

void ZELUserQueryList::setTitle(std::optional<ZELString> title) {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    title_ = std::move(title);
}

bool ZELUserQueryList::isSortByMostRecentlyUsed() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return isSortByMostRecentlyUsed_;
}

void ZELUserQueryList::setIsSortByMostRecentlyUsed(bool flag) {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    isSortByMostRecentlyUsed_ = flag;
}

uint64_t ZELUserQueryList::changeCount() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return changeCount_;
}

void ZELUserQueryList::setChangeCount(uint64_t count) {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    changeCount_ = count;
}

ZELUserQueryList::EntryList ZELUserQueryList::entries() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return entries_;
}

ZELUserQueryList::ListList ZELUserQueryList::sublists() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return sublists_;
}

void ZELUserQueryList::markDidChange() {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    ++changeCount_;
    if (changeCount_ >= changeCountNever) changeCount_ = 1;
}

void ZELUserQueryList::mutateEntriesUsing(const std::function<bool(EntryList& entries)>& mutator) {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    if (mutator(entries_)) markDidChange();
}

void ZELUserQueryList::addEntry(const std::shared_ptr<ZELUserQueryListEntry>& entry) {
    if (!entry) return;
    mutateEntriesUsing([&](EntryList& entries) {
        if (isSortByMostRecentlyUsed_) {
            auto equal = std::find_if(entries.begin(), entries.end(),
                                      [&](const auto& other) { return other->isEqual(*entry); });
            if (equal != entries.end()) {
                std::rotate(entries.begin(), equal, equal + 1);
            } else {
                entries.insert(entries.begin(), entry);
            }
        }
        return true;
    });
}

void ZELUserQueryList::removeEntry(const std::shared_ptr<ZELUserQueryListEntry>& entry) {
    mutateEntriesUsing([&](EntryList& entries) {
        auto found = std::find(entries.begin(), entries.end(), entry);
        if (found == entries.end()) return false;
        entries.erase(found);
        return true;
    });
}

void ZELUserQueryList::moveEntryAtIndex(size_t from, size_t to) {
    mutateEntriesUsing([&](EntryList& entries) {
        if (from >= entries.size() || to >= entries.size()) return false;
        auto entry = entries[from];
        entries.erase(entries.begin() + static_cast<ptrdiff_t>(from));
        entries.insert(entries.begin() + static_cast<ptrdiff_t>(to), std::move(entry));
        return true;
    });
}

void ZELUserQueryList::removeAllEntries() {
    mutateEntriesUsing([](EntryList& entries) {
        if (entries.empty()) return false;
        entries.clear();
        return true;
    });
}

void ZELUserQueryList::removeEntriesInRange(size_t location, size_t length) {
    mutateEntriesUsing([&](EntryList& entries) {
        const size_t begin = std::min(location, entries.size());
        const size_t end = begin + std::min(length, entries.size() - begin);
        entries.erase(entries.begin() + static_cast<ptrdiff_t>(begin),
                      entries.begin() + static_cast<ptrdiff_t>(end));
        return true;
    });
}

void ZELUserQueryList::replaceContents(EntryList entries, ListList sublists) {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    entries_ = std::move(entries);
    sublists_ = std::move(sublists);
    markDidChange();
}

std::string ZELUserQueryList::description() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return descriptionHead() + " \"" + (title_ ? ZELStringToUTF8(*title_) : "{none}") + "\" " +
           std::to_string(entries_.size()) + " entries, " + std::to_string(sublists_.size()) +
           " sublists";
}
