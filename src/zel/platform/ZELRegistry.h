#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

// A registry of named entries of one role, one shared registry per entry type: the
// deserializers of stream-serializable classes, item classes, tokenizer classes, value getters
// on items. Registration replaces an entry of the same name. Thread-safe; lookups share a
// reader lock.
template <typename Entry>
class ZELRegistry {
public:
    static ZELRegistry& shared() {
        static ZELRegistry registry;
        return registry;
    }

    void registerEntry(std::string name, Entry entry) {
        std::unique_lock<std::shared_mutex> guard(entriesLock_);
        entries_.insert_or_assign(std::move(name), std::move(entry));
    }

    std::optional<Entry> entryNamed(std::string_view name) const {
        std::shared_lock<std::shared_mutex> guard(entriesLock_);
        const auto found = entries_.find(name);
        if (found == entries_.end()) return std::nullopt;
        return found->second;
    }

    bool containsEntryNamed(std::string_view name) const {
        std::shared_lock<std::shared_mutex> guard(entriesLock_);
        return entries_.find(name) != entries_.end();
    }

    // Registered names in ascending order.
    std::vector<std::string> names() const {
        std::shared_lock<std::shared_mutex> guard(entriesLock_);
        std::vector<std::string> result;
        result.reserve(entries_.size());
        for (const auto& [name, entry] : entries_) result.push_back(name);
        return result;
    }

private:
    mutable std::shared_mutex entriesLock_;
    std::map<std::string, Entry, std::less<>> entries_;  // guarded by entriesLock_
};
