#include <map>
#include <random>

#include "ZELDatabaseTestSupport.h"
#include "support/ZELTestFileBytes.h"
#include "zel/storage/ZELIDVectorArray.h"

namespace {

// What the database should hold: per item key, its ID and its (aspect, normalized term) pairs.
struct ModelItem {
    ZELID itemID = 0;
    std::set<std::pair<std::u16string, std::u16string>> terms;
};

const std::vector<std::string> kVocabulary = {"apple", "pear", "plum", "fig", "kiwi", "lime",
                                              "date", "peach", "grape", "melon", "berry", "nut"};

class ZELDatabaseModelTest : public ZELDatabaseTest {
protected:
    // A random written form: lower, capitalized or upper case.
    std::string writtenForm(const std::string& word) {
        std::string form = word;
        switch (random_() % 3) {
            case 0: break;
            case 1: form[0] = static_cast<char>(std::toupper(form[0])); break;
            default:
                for (char& c : form) c = static_cast<char>(std::toupper(c));
        }
        return form;
    }
    std::string randomWords(int maximum) {
        std::string text;
        const int count = static_cast<int>(random_() % (maximum + 1));
        for (int i = 0; i < count; ++i) {
            text += writtenForm(kVocabulary[random_() % kVocabulary.size()]) + " ";
        }
        return text;
    }
    static std::u16string lower(const std::u16string& text) {
        std::u16string result = text;
        for (char16_t& c : result) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        return result;
    }
    static std::set<std::pair<std::u16string, std::u16string>> termsOf(const ZELTestItem& item) {
        std::set<std::pair<std::u16string, std::u16string>> terms;
        auto addWords = [&](const char16_t* aspect, const std::u16string& text) {
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find(u' ', start);
                if (end == std::u16string::npos) end = text.size();
                if (end > start) terms.emplace(aspect, lower(text.substr(start, end - start)));
                start = end + 1;
            }
        };
        addWords(u"words", item.words);
        addWords(u"tags", item.tags);
        if (!item.key.empty()) terms.emplace(u"key", lower(item.key));
        return terms;
    }

    // Both ID-vector arrays agree with each other and with the model; every use count equals
    // the length of its item vector; terms that no item carries are gone.
    void verify() {
        std::set<ZELID> modelIDs;
        std::map<std::pair<std::u16string, std::u16string>, std::set<ZELID>> itemsByTerm;
        for (const auto& [key, item] : model_) {
            modelIDs.insert(item.itemID);
            for (const auto& term : item.terms) itemsByTerm[term].insert(item.itemID);
        }
        const auto existing = idsOf(db_->allExistingItemIDs());
        ASSERT_EQ(std::set<ZELID>(existing.begin(), existing.end()), modelIDs);
        ASSERT_EQ(db_->itemCount(), modelIDs.size());

        for (const auto& [key, item] : model_) {
            std::set<std::pair<std::u16string, std::u16string>> stored;
            for (ZELID bit : idsOf(db_->aspectIDVectorForItemID(item.itemID))) {
                std::shared_ptr<ZELAspect> aspect;
                ASSERT_TRUE(db_->aspectBitCanonicalValueForID(bit, &aspect)) << bit;
                stored.emplace(aspect->aspectIdentifier(), *db_->aspectBitNormalizedValueForID(bit));
                // The other array holds the item under the bit.
                ASSERT_TRUE(db_->itemIDVectorForAspectBitID(bit)->containsID(item.itemID));
            }
            ASSERT_EQ(stored, item.terms) << "item " << item.itemID;
            auto read = std::dynamic_pointer_cast<ZELTestItem>(db_->itemForItemID(item.itemID, nullptr));
            ASSERT_TRUE(read);
            ASSERT_EQ(lower(read->key), key);
        }
        uint64_t liveTerms = 0;
        for (const char16_t* aspectName : {u"words", u"tags", u"key"}) {
            auto aspect = db_->aspectWithIdentifier(aspectName);
            db_->accessLockedUsing([&] { liveTerms += aspect->aspectBitCount(); });
            std::vector<std::string> candidates = kVocabulary;
            for (int k = 0; k < kKeyCount; ++k) candidates.push_back("k" + std::to_string(k));
            for (const std::string& word : candidates) {
                const auto term = std::make_pair(std::u16string(aspectName), ZELStringFromUTF8(word));
                const ZELID bit = aspect->aspectBitIDForValue(ZELStringFromUTF8(word), false);
                const auto found = itemsByTerm.find(term);
                if (found == itemsByTerm.end()) {
                    ASSERT_EQ(bit, 0u) << word;
                    continue;
                }
                ASSERT_NE(bit, 0u) << word;
                const auto items = idsOf(db_->itemIDVectorForAspectBitID(bit));
                ASSERT_EQ(std::set<ZELID>(items.begin(), items.end()), found->second) << word;
                ASSERT_EQ(useCountOf(bit), found->second.size()) << word;
            }
        }
        ASSERT_EQ(liveTerms, itemsByTerm.size());
        db_->accessLockedUsing([&] {
            ASSERT_EQ(db_->aspectBitValueStore()->aspectBitValueCount(), itemsByTerm.size());
        });
    }

    static constexpr int kKeyCount = 24;
    std::mt19937 random_{20240611};
    std::map<std::u16string, ModelItem> model_;
};

}  // namespace

TEST_F(ZELDatabaseModelTest, RandomChangesMatchTheModelAcrossReopens) {
    db_ = openDatabase();
    for (int step = 1; step <= 600; ++step) {
        const int operation = static_cast<int>(random_() % 10);
        const std::string key = "k" + std::to_string(random_() % kKeyCount);
        const std::u16string modelKey = ZELStringFromUTF8(key);
        auto item = ZELTestMakeItem(writtenForm(key), randomWords(4), randomWords(2));
        if (operation < 5) {
            // Add: a new key adds; a known key matches, and other terms take over its ID.
            bool added = false;
            const ZELID itemID = db_->addItem(item, &added);
            auto found = model_.find(modelKey);
            if (found == model_.end()) {
                ASSERT_TRUE(added);
                model_[modelKey] = {itemID, termsOf(*item)};
            } else {
                ASSERT_FALSE(added);
                ASSERT_EQ(itemID, found->second.itemID);
                found->second.terms = termsOf(*item);
            }
        } else if (operation == 5) {
            // Match only: nothing changes.
            auto matched = db_->itemMatchingItem(item, false, nullptr);
            ASSERT_EQ(matched != nullptr, model_.count(modelKey) == 1);
        } else if (operation < 8 && model_.count(modelKey)) {
            // Re-index a stored item with new values.
            item->setItemID(model_[modelKey].itemID);
            db_->updateIndexingForChangedItem(item);
            ASSERT_EQ(item->itemID(), model_[modelKey].itemID);
            model_[modelKey].terms = termsOf(*item);
        } else if (model_.count(modelKey)) {
            const ZELID ids[] = {model_[modelKey].itemID, 5000};
            db_->removeItemsWithIDs(*ZELIDVector::vectorWithIDs(ids, 2));
            model_.erase(modelKey);
        }
        if (step % 40 == 0) {
            ASSERT_NO_FATAL_FAILURE(verify()) << "step " << step;
        }
        if (step % 120 == 0) {
            ASSERT_NO_FATAL_FAILURE(reopen());
            ASSERT_NO_FATAL_FAILURE(verify()) << "after reopen at step " << step;
        }
    }
}

// The canonical strings, which the model leaves out, survive reopening with everything else.
TEST_F(ZELDatabaseTest, ReopenRoundTripKeepsItemsTermsCountsAndCanonicalStrings) {
    db_ = openDatabase();
    add("K1", "Zürich zürich Bern", "Red");
    add("K2", "ZÜRICH Basel", "red");
    auto third = ZELTestMakeItem("K3", "Basel", "RED");
    db_->addItem(third, nullptr);
    // Every term as "normalized=canonical", then the content digest.
    const auto snapshot = [&] {
        std::string shot;
        for (const auto& aspect : db_->allAspects()) {
            db_->accessLockedUsing([&] {
                aspect->enumerateCompletionsWithNormalizedPrefix(
                    u"", nullptr, [&](const ZELString& normalized, const ZELString& canonical, ZELID, bool&) {
                        shot += ZELStringToUTF8(normalized + u"=" + canonical) + "\n";
                    });
            });
        }
        return shot + ZELTestContentDigest(*db_);
    };
    std::string before = snapshot();
    // Three written forms with one vote each: the last one voted for wins.
    EXPECT_NE(before.find("=ZÜRICH\n"), std::string::npos) << before;
    EXPECT_NE(before.find("red=RED\n"), std::string::npos) << before;
    reopen();
    EXPECT_EQ(snapshot(), before);

    db_->removeItemsWithIDs(*ZELIDVector::vectorWithID(1));
    third->words = u"Genf";
    db_->updateIndexingForChangedItem(third);
    before = snapshot();
    reopen();
    EXPECT_EQ(snapshot(), before);
}

// The term -> items table gathers the postings of adds and enters them in bulk, and addItems
// tokenizes ahead on other threads. A twin database that adds one item at a time and enters
// each posting at once must answer every lookup alike in between (lookups, removals and
// compactions come at random points of one batch) and save the same files, byte for byte. All
// three databases compact their item side on their own every few items; the third enters its
// postings every few adds, saving its term -> items table every few vectors, and must answer
// alike too, before and after reopening.
TEST_F(ZELDatabaseModelTest, GatheredAndThreadedAddsAnswerAndSaveAsAddsOneByOne) {
    std::shared_ptr<ZELDatabase> twins[3];
    const auto open = [&](int twin) {
        twins[twin] = ZELDatabase::databaseWithIdentifier("test.db", nullptr,
                                                          folder_ / std::to_string(twin));
        ASSERT_TRUE(twins[twin]->bootstrapFromDisk());
        twins[twin]->setItemSideByteBudget(600);
        addAspects(*twins[twin]);
    };
    for (int twin = 0; twin < 3; ++twin) {
        open(twin);
        // Without duplicate detection an add reads no vector, so postings stay gathered.
        twins[twin]->aspectWithIdentifier(u"key")->setIsUsedToDetectDuplicates(false);
        twins[twin]->beginItemChanges();
    }
    twins[1]->accessLockedUsing([&] { twins[1]->itemVectorsByAspectBitID()->setGathersAddedIDs(false); });
    twins[2]->accessLockedUsing([&] { twins[2]->itemVectorsByAspectBitID()->setGatheringLimits(60, 40); });
    const auto answers = [&](ZELDatabase& db, const std::string& word) {
        const ZELID bit = db.aspectWithIdentifier(u"words")->aspectBitIDForValue(ZELStringFromUTF8(word), false);
        return std::make_pair(bit, idsOf(db.itemIDVectorForAspectBitID(bit)));
    };
    for (int step = 0; step < 2000; ++step) {
        const int operation = static_cast<int>(random_() % 20);
        const std::string word = kVocabulary[random_() % kVocabulary.size()];
        if (operation < 16) {
            // A run of items: tokenized on three threads for one twin, one by one for the other.
            std::vector<std::shared_ptr<ZELItem>> run[3];
            for (int count = 1 + static_cast<int>(random_() % 8); count > 0; --count) {
                const std::string key = "k" + std::to_string(random_() % kKeyCount);
                const std::string words = randomWords(6), tags = randomWords(2);
                for (auto& items : run) items.push_back(ZELTestMakeItem(key, words, tags));
            }
            std::vector<ZELID> added;
            for (const auto& item : run[1]) added.push_back(twins[1]->addItem(item, nullptr));
            ASSERT_EQ(twins[0]->addItems(run[0], 3), added);
            ASSERT_EQ(twins[2]->addItems(run[2], 1), added);
        } else if (operation < 18) {
            ASSERT_EQ(answers(*twins[0], word), answers(*twins[1], word)) << "step " << step;
            ASSERT_EQ(answers(*twins[2], word), answers(*twins[1], word)) << "step " << step;
        } else if (operation == 18) {
            const auto all = twins[1]->allExistingItemIDs();
            if (all->isEmpty()) continue;
            const ZELID itemID = idsOf(all)[random_() % all->count()];
            for (auto& db : twins) db->removeItemsWithIDs(*ZELIDVector::vectorWithID(itemID));
        } else {
            for (auto& db : twins) db->compactMemory(2);
        }
    }
    for (auto& db : twins) {
        db->endItemChanges();
        ASSERT_TRUE(db->ensureSerialized());
    }
    twins[2]->invalidate();
    open(2);
    for (const std::string& word : kVocabulary) {
        ASSERT_EQ(answers(*twins[2], word), answers(*twins[1], word)) << word;
    }
    for (auto& db : twins) db->invalidate();
    size_t compared = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_ / "0")) {
        if (!entry.is_regular_file()) continue;
        const auto relative = std::filesystem::relative(entry.path(), folder_ / "0");
        EXPECT_EQ(ZELTestReadFile(entry.path()), ZELTestReadFile(folder_ / "1" / relative)) << relative;
        ++compared;
    }
    EXPECT_GT(compared, 8u);
}
