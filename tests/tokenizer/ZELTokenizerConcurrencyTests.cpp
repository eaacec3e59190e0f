#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "zel/tokenizer/ZELCharacterClasses+Private.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

// Also built alone for the ThreadSanitizer run: sets its own locale and calendar, so that it
// never reaches the user's defaults.

TEST(ZELTokenizerConcurrency, SharedTokenizersAndComparisonsAgreeAcrossThreads) {
    ZELSetLocaleForUniformZELStringComparison("en_US");
    ASSERT_TRUE(ZELDateTokenizer::setCalendar("Europe/Berlin", "en_US"));
    const auto words = ZELTokenizer::tokenizer<ZELWordTokenizer>();
    const auto hours = ZELTokenizer::tokenizer<ZELDateHourTokenizer>();
    const std::vector<ZELString> texts = {
        ZELStringFromUTF8("Hello, well-known world! see http://example.com/x now"),
        ZELStringFromUTF8("日本語のテキストです and École normale"),
        ZELStringFromUTF8("e-mail base64:\nQUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAx\n\nend"),
    };
    std::vector<ZELTokenSet> expected;
    for (const ZELString& text : texts) expected.push_back(*words->tokensForValue(ZELValue(text)));
    const ZELTokenSet expectedHour = *hours->tokensForValue(ZELValue(ZELDate{1709458245.0}));
    const ZELString expectedName =
        ZELDateTokenizer::stringFromDate(ZELDate{1709458245.0}, u"EEE (LL)");
    ASSERT_EQ(expectedName, u"Sun (03)");

    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> workers;
    // The character table is filled block by block by whichever thread asks first: the workers
    // ask for every block, each starting elsewhere, and must all see the same classes.
    std::vector<std::vector<uint8_t>> classesSeen(4, std::vector<uint8_t>(256));
    for (int worker = 0; worker < 4; ++worker) {
        workers.emplace_back([&, worker] {
            for (uint32_t step = 0; step < 256; ++step) {
                const uint32_t block = (step + 64 * static_cast<uint32_t>(worker)) % 256;
                classesSeen[worker][block] = ZELCharacterClassesOf(block * 256 + 0x41);
            }
            for (int round = 0; round < 60; ++round) {
                for (size_t i = 0; i < texts.size(); ++i) {
                    if (*words->tokensForValue(ZELValue(texts[i])) != expected[i]) ++mismatches;
                }
                if (*hours->tokensForValue(ZELValue(ZELDate{1709458245.0})) != expectedHour) ++mismatches;
                if (ZELDateTokenizer::stringFromDate(ZELDate{1709458245.0}, u"EEE (LL)") !=
                    expectedName)
                    ++mismatches;
                if (compareZELSort(u"apple", u"#tag") >= 0 || !hasZELSortPrefix(u"e\u0301cole", u"ec")) ++mismatches;
                // Either locale puts "apple" before "banana"; the collators follow the switches.
                if (compareZELLocalized(u"apple", u"banana") >= 0) ++mismatches;
                if (ZELNormalizedCaseInsensitiveComparisonString(u"\u00C9cole") != u"e\u0301cole") ++mismatches;
            }
        });
    }
    std::thread switcher([&] {
        for (int i = 0; !stop.load(); ++i) {
            ZELSetLocaleForUniformZELStringComparison(i % 2 ? "sv_SE" : "en_US");
            std::this_thread::yield();
        }
    });
    for (std::thread& worker : workers) worker.join();
    stop = true;
    switcher.join();
    ZELSetLocaleForUniformZELStringComparison("en_US");
    EXPECT_EQ(mismatches.load(), 0);
    for (const auto& seen : classesSeen) EXPECT_EQ(seen, classesSeen[0]);
    EXPECT_TRUE(classesSeen[0][0] & ZELCharacterClassAlphanumeric);  // "A"
}
