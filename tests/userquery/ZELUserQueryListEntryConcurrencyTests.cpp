// Saved-search entries used from several threads at once, as their list allows. Also run under
// ThreadSanitizer, which reports any cache filled without the entry's lock.

#include <thread>

#include "ZELUserQueryTestSupport.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

TEST_F(ZELUserQueryDatabaseTest, EntryFillsItsCachesSafelyFromManyThreads) {
    auto query = std::make_shared<ZELUserQuery>();
    query->addMatchValue(u"oak", aspect("title"));
    const ZELValue stored = ZELUserQueryListEntry::entryWithTitle(u"Trees", query)->plistSerialization();
    for (int round = 0; round < 20; ++round) {
        auto read = ZELUserQueryListEntry::entryWithPlistSerialization(stored);
        auto made = ZELUserQueryListEntry::entryWithTitle(u"Trees", query);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([&, thread] {
                if (thread % 2 == 0) {
                    EXPECT_TRUE(read->userQueryWithDatabase(*db_, nullptr));
                    EXPECT_EQ(made->plistSerialization(), stored);
                } else {
                    EXPECT_EQ(read->plistSerialization(), stored);
                    read->setTitle(u"Trees");
                    EXPECT_TRUE(made->isEqual(*read));
                }
            });
        }
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(read->userQueryRaw(), read->userQueryWithDatabase(*db_, nullptr));
    }
}
