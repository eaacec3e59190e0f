#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "zel/platform/TarvoPointerKeyDictionary.h"

TEST(TarvoPointerKeyDictionary, RandomOperationsMatchAMapModel) {
    std::mt19937_64 random(7);
    TarvoPointerKeyDictionary<int> dictionary;
    std::map<uintptr_t, int> model;
    // Keys from a small range so that replacing and removing hit existing entries; the top
    // bit is set on some so that ordering is by the full unsigned value.
    const auto randomKey = [&] {
        const uintptr_t key = random() % 64;
        return key % 5 == 0 ? key | (uintptr_t{1} << (sizeof(uintptr_t) * 8 - 1)) : key * 16;
    };
    for (int step = 0; step < 5000; ++step) {
        const uintptr_t key = randomKey();
        switch (random() % 3) {
            case 0: {
                const int value = static_cast<int>(random() % 1000);
                dictionary.setValue(key, value);
                model[key] = value;
                break;
            }
            case 1:
                ASSERT_EQ(dictionary.removeValueForKey(key), model.erase(key) == 1);
                break;
            default: {
                const auto found = model.find(key);
                const int* value = dictionary.valueForKey(key);
                ASSERT_EQ(value != nullptr, found != model.end());
                ASSERT_EQ(dictionary.containsKey(key), found != model.end());
                if (value) {
                    ASSERT_EQ(*value, found->second);
                }
            }
        }
        ASSERT_EQ(dictionary.count(), model.size());
    }
    std::vector<uintptr_t> expectedKeys;
    for (const auto& entry : model) expectedKeys.push_back(entry.first);
    EXPECT_EQ(dictionary.allKeys(), expectedKeys);

    std::vector<std::pair<uintptr_t, int>> visited;
    dictionary.forEach([&](uintptr_t key, int value) { visited.emplace_back(key, value); });
    const std::vector<std::pair<uintptr_t, int>> expectedEntries(model.begin(), model.end());
    EXPECT_EQ(visited, expectedEntries);

    dictionary.removeAllValues();
    EXPECT_EQ(dictionary.count(), 0u);
    EXPECT_TRUE(dictionary.allKeys().empty());
}

// Ordering, replacement and removal are the model test's; here pointer keys and values that
// can only be moved.
TEST(TarvoPointerKeyDictionary, PointerKeysAndMoveOnlyValues) {
    TarvoPointerKeyDictionary<std::unique_ptr<std::string>> dictionary;
    int objects[2];
    dictionary.setValue(&objects[0], std::make_unique<std::string>("first"));
    dictionary.setValue(&objects[0], std::make_unique<std::string>("first, replaced"));
    ASSERT_NE(dictionary.valueForKey(&objects[0]), nullptr);
    EXPECT_EQ(**dictionary.valueForKey(&objects[0]), "first, replaced");
    EXPECT_EQ(dictionary.valueForKey(&objects[1]), nullptr);
    EXPECT_EQ(dictionary.valueForKey(TarvoPointerKeyDictionary<int>::keyFor(&objects[0])),
              dictionary.valueForKey(&objects[0]));
    EXPECT_EQ(dictionary.allKeys(),
              std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(&objects[0])});
}
