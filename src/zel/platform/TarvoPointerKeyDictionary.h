#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// A map from pointer-sized keys (an object's address, a handle) to values: the diagnostic
// collector keys its entries by the objects they describe. Keys are plain numbers, never
// dereferenced. Not thread-safe: the owner guards it.
template <typename Value>
class TarvoPointerKeyDictionary {
public:
    static uintptr_t keyFor(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

    // Stores `value` under `key`, replacing what was there.
    void setValue(uintptr_t key, Value value) { entries_.insert_or_assign(key, std::move(value)); }
    void setValue(const void* key, Value value) { setValue(keyFor(key), std::move(value)); }

    // The value under `key`, or null. Valid until the entry is removed or replaced.
    Value* valueForKey(uintptr_t key) {
        const auto found = entries_.find(key);
        return found == entries_.end() ? nullptr : &found->second;
    }
    const Value* valueForKey(uintptr_t key) const {
        const auto found = entries_.find(key);
        return found == entries_.end() ? nullptr : &found->second;
    }
    Value* valueForKey(const void* key) { return valueForKey(keyFor(key)); }
    const Value* valueForKey(const void* key) const { return valueForKey(keyFor(key)); }

    bool containsKey(uintptr_t key) const { return entries_.count(key) != 0; }
    bool containsKey(const void* key) const { return containsKey(keyFor(key)); }

    // Answers whether there was an entry to remove.
    bool removeValueForKey(uintptr_t key) { return entries_.erase(key) != 0; }
    bool removeValueForKey(const void* key) { return removeValueForKey(keyFor(key)); }
    void removeAllValues() { entries_.clear(); }

    size_t count() const { return entries_.size(); }

    // The keys in ascending order.
    std::vector<uintptr_t> allKeys() const {
        std::vector<uintptr_t> keys;
        keys.reserve(entries_.size());
        for (const auto& entry : entries_) keys.push_back(entry.first);
        return keys;
    }

    // Calls `visit(key, value)` for every entry in ascending key order. `visit` must not
    // add or remove entries.
    template <typename Visitor>
    void forEach(Visitor&& visit) const {
        for (const auto& [key, value] : entries_) visit(key, value);
    }

private:
    std::map<uintptr_t, Value> entries_;
};
