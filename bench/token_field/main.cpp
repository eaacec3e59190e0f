// zel_bench_token_field: the time from a key press in the search field to the updated
// completion list, on a synthetic database of 1,000,000 records (ZELBenchCorpora.h), with the
// collection running in the background as it does for a user. Each measured key press types
// one more letter of a word's beginning; the time runs from sending the key event until the
// list shows the new collection's rows. Reported: median and 99th percentile, without and
// with the completions limited to a current result set, and for comparison the collection
// alone, run synchronously.
//
//   zel_bench_token_field [--records N] [--keys N] [--folder PATH]
//
// With --folder, a database made there earlier is reused.

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "ZELBenchCorpora.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/ui/ZELAspectBitTokenDelegate.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELCompletionListWindowController.h"

namespace {

using Clock = std::chrono::steady_clock;

class LimitingDelegate : public ZELAspectBitTokenDelegate {
public:
    std::shared_ptr<ZELQuery> aspectBitTokenFieldActiveQuery(ZELAspectTokenField&) override { return nullptr; }
    std::shared_ptr<ZELItemResultSet> aspectBitTokenFieldActiveItemResultSet(ZELAspectTokenField&) override {
        return resultSet;
    }
    void aspectBitTokenFieldDidChangeText(ZELAspectTokenField&) override {}
    void aspectBitTokenFieldDidChangeQuery(ZELAspectTokenField&) override {}
    std::shared_ptr<ZELItemResultSet> resultSet;
};

struct Figures {
    double median, p99, worst;
};

Figures figuresOf(std::vector<double> milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double fraction) {
        return milliseconds[std::min(milliseconds.size() - 1,
                                     static_cast<size_t>(fraction * static_cast<double>(milliseconds.size())))];
    };
    return {at(0.5), at(0.99), milliseconds.back()};
}

// Types the first one to four letters of random words, clearing the field before each word,
// and times every key press up to the list's new rows.
std::vector<double> measure(ZELAspectTokenField& field, const std::vector<std::string>& words, int keys) {
    ZELCompletionListWindowController* list = field.completionListWindowController();
    std::mt19937 random(7);
    std::vector<double> times;
    while (static_cast<int>(times.size()) < keys) {
        const std::string& word = words[random() % words.size()];
        field.clear();
        QApplication::processEvents();
        for (size_t length = 1; length <= std::min<size_t>(4, word.size()); ++length) {
            const auto before = list->completionList();
            const auto start = Clock::now();
            QTest::keyClick(&field, word[length - 1]);
            while (field.isCollectingInBackground() || list->completionList() == before) {
                QApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    return times;
}

// The same typing, timing only the collection itself, synchronously on this thread: what the
// key press costs without the two thread hops of the background collection.
std::vector<double> measureCollection(const ZELAspectTokenField& field, const std::vector<std::string>& words,
                                      int keys, const std::shared_ptr<ZELItemResultSet>& resultSet) {
    std::mt19937 random(7);
    std::vector<double> times;
    while (static_cast<int>(times.size()) < keys) {
        const std::string& word = words[random() % words.size()];
        for (size_t length = 1; length <= std::min<size_t>(4, word.size()); ++length) {
            const ZELString prefix = ZELStringFromUTF8(word.substr(0, length));
            const auto start = Clock::now();
            ZELCompletionCollector::completionsForMatchingPrefix(
                &prefix, field.aspects(), resultSet, ZELAspectTokenField::completionListCount, nullptr);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    long records = 1000000;
    int keys = 400;
    std::filesystem::path folder;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--records") records = std::stol(argv[i + 1]);
        if (option == "--keys") keys = std::stoi(argv[i + 1]);
        if (option == "--folder") folder = argv[i + 1];
    }
    const bool keep = !folder.empty();
    if (folder.empty()) folder = ZELBench_ScratchFolder("token-field");

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    std::shared_ptr<ZELDatabase> db;
    const auto made = Clock::now();
    if (keep && std::filesystem::exists(folder / "db")) {
        ZELRecordItem::registerItemClass();
        db = ZELDatabase::databaseWithIdentifier("bench.synthetic", nullptr, folder / "db");
        if (!db->bootstrapFromDisk()) return 1;
        ZELBench_AddAspect<ZELWhitespaceTokenizer>(*db, u"title", "title");
        ZELBench_AddAspect<ZELIdentityValueTokenizer>(*db, u"tag", "tag");
    } else {
        db = ZELBench_MakeSyntheticDatabase(folder / "db", records);
        if (!db || !db->ensureSerialized()) return 1;
    }
    std::printf("database: %ld records ready in %.1f s\n", records,
                std::chrono::duration<double>(Clock::now() - made).count());

    // The words typed: a sample of the titles' words, most frequent first as users would.
    std::vector<std::string> words;
    auto title = db->aspectWithIdentifier(u"title");
    db->accessLockedUsing([&] {
        title->enumerateCompletionsWithNormalizedPrefix(u"", nullptr,
                                                        [&](const ZELString& value, const ZELString&, ZELID, bool& stop) {
                                                            words.push_back(ZELStringToUTF8(value));
                                                            stop = words.size() >= 20000;
                                                        });
    });

    LimitingDelegate delegate;
    ZELAspectTokenField field;
    field.addAspectGroup({title}, u"Title");
    field.addAspectGroup({db->aspectWithIdentifier(u"tag")}, u"Tag");
    field.setTokenDelegate(&delegate);
    field.resize(600, field.height());
    field.show();
    field.activateWindow();
    field.setFocus();
    (void)QTest::qWaitForWindowActive(&field);

    const Figures unlimited = figuresOf(measure(field, words, keys));
    const Figures unlimitedCollection = figuresOf(measureCollection(field, words, keys, nullptr));
    delegate.resultSet = ZELQuery::queryMatchingID(db->aspectWithIdentifier(u"tag")->aspectBitIDForValue(u"tag7", false))
                             ->resultSetInDatabase(db);
    delegate.resultSet->viableAspectBitIDs();
    field.itemResultSetDidChange();
    const Figures limited = figuresOf(measure(field, words, keys));
    const Figures limitedCollection = figuresOf(measureCollection(field, words, keys, delegate.resultSet));

    const std::string limitedName = "limited to " + std::to_string(delegate.resultSet->itemIDs()->count()) + " records";
    std::printf("%d key presses each, ms:\n", keys);
    const auto print = [](const std::string& name, const Figures& figures) {
        std::printf("  %-52s median %6.2f  p99 %6.2f  worst %6.2f\n", name.c_str(), figures.median, figures.p99,
                    figures.worst);
    };
    print("key press to updated list, all records", unlimited);
    print("key press to updated list, " + limitedName, limited);
    print("collection alone, all records", unlimitedCollection);
    print("collection alone, " + limitedName, limitedCollection);
    field.hide();
    delegate.resultSet.reset();
    db->invalidate();
    if (!keep) std::filesystem::remove_all(folder);
    return 0;
}
