#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ZELTestLogCapture.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELTickClock.h"
#include "zel/stream/ZELDefs.h"
#include "zel/stream/ZELDiagnosticCollector.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

// An object whose subclass forgot an operation.
class ZELDiagnosticsTestsProbe : public ZELObject {};

namespace {

const std::string kFailed = "ASSERT failed: ";
const std::string kRepeated = "ASSERT repeatedly failed, ignoring: ";

// Drives the tick clock by hand and captures the log.
class ZELAssertFailedTest : public ::testing::Test {
  protected:
    void SetUp() override { ZELSetTickSourceForTesting([this] { return ticks_; }); }
    void TearDown() override { ZELSetTickSourceForTesting({}); }
    void failAt(uint32_t tick, const char* code, int line, const char* file = "ZELStore.cpp") {
        ticks_ = tick;
        ZELAssertFailed(code, file, line);
    }

    uint32_t ticks_ = 0;
    ZELTestLogCapture log_;
};

TEST_F(ZELAssertFailedTest, RapidRepeatsAreLoggedAsIgnoredFromTheFourthOn) {
    for (uint32_t i = 0; i < 5; ++i) failAt(1000 + 20 * i, "count > 0", 10);  // 1/3 s apart
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{kFailed + "count > 0", kFailed + "count > 0",
                                                kFailed + "count > 0", kRepeated + "count > 0",
                                                kRepeated + "count > 0"}));
}

TEST_F(ZELAssertFailedTest, RecordStartsAfreshAfterSixtySecondsAndAfterAGap) {
    const uint32_t start = 0xFFFFFF00u;  // the tick counter wraps on the way
    for (uint32_t i = 0; i < 20; ++i) failAt(start + i, "ok", 20);
    for (uint32_t i = 1; i <= 6; ++i) failAt(start + 600 * i, "ok", 20);  // 10 s gaps, to 60 s
    const std::vector<std::string> lines = log_.lines();
    ASSERT_EQ(lines.size(), 26u);
    EXPECT_EQ(lines[2], kFailed + "ok");
    EXPECT_EQ(lines[3], kRepeated + "ok");
    EXPECT_EQ(lines[25], kRepeated + "ok");

    // 70 s after the first failure: a new record, counting from 1 again.
    log_.clear();
    for (uint32_t i = 0; i < 4; ++i) failAt(start + 4200 + i, "ok", 20);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{kFailed + "ok", kFailed + "ok", kFailed + "ok",
                                                kRepeated + "ok"}));

    // A failure more than 10 s after the one before is logged in full.
    log_.clear();
    for (uint32_t i = 0; i < 5; ++i) failAt(5000 + i, "gap", 30);
    failAt(5004 + 11 * 60, "gap", 30);      // 11 s later
    failAt(5004 + 11 * 60 + 1, "gap", 30);  // 7 failures in 11 s: rapid again
    const std::vector<std::string> gapLines = log_.lines();
    ASSERT_EQ(gapLines.size(), 7u);
    EXPECT_EQ(gapLines[5], kFailed + "gap");
    EXPECT_EQ(gapLines[6], kRepeated + "gap");
}

TEST_F(ZELAssertFailedTest, OnlyTheSameTextFileAndLineRepeat) {
    failAt(100, "a", 40);
    failAt(101, "a", 40);
    failAt(102, "a", 40);
    failAt(103, "a", 41);  // another line of the same file
    failAt(104, "a", 40);
    failAt(105, "b", 40);
    failAt(106, "a", 40, "ZELOther.cpp");
    for (uint32_t i = 0; i < 4; ++i) failAt(107 + i, "a", 40, nullptr);  // no file: never a repeat
    const std::vector<std::string> lines = log_.lines();
    for (const std::string& line : lines) EXPECT_EQ(line.rfind(kFailed, 0), 0u) << line;
    EXPECT_EQ(lines.size(), 11u);
}

TEST_F(ZELAssertFailedTest, HelpersReportThroughTheAssertion) {
    ZELAssert(1 + 1 == 3);
    ZELAssert(1 + 1 == 2);
    ZELDiagnosticsTestsProbe probe;
    ZELAbstractMethodWasCalled(probe, "readData", __FILE__, __LINE__);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{kFailed + "1 + 1 == 3",
                                                kFailed + "abstract method should be implemented "
                                                          "[ZELDiagnosticsTestsProbe readData]"}));
}

TEST_F(ZELAssertFailedTest, AllocationFailureRaisesAfterReporting) {
    const std::string longDescription(2000, 'x');
    for (const std::string& what : {std::string("readData buffer"), longDescription}) {
        log_.clear();
        testing::internal::CaptureStdout();
        try {
            ZELMemoryAllocationFailed(4096, what.c_str(), "ZELStream.cpp", 77);
            ADD_FAILURE() << "ZELMemoryAllocationFailed returned";
        } catch (const ZELException& exception) {
            EXPECT_EQ(exception.name(), "ZELOutOfMemoryException");
            EXPECT_EQ(exception.reason(), "out of memory");
        }
        // At most 994 bytes of the description fit the preallocated message buffer.
        const std::string message = "!!! memory allocation failed: " + what.substr(0, 994) + "\n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), message + " (4096 bytes)");
        EXPECT_EQ(log_.lines(), std::vector<std::string>{kFailed + message});
    }
}

TEST(ZELByteCountText, ReadsAsSpecifiedAtEveryBoundary) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0 K"},           {1023, "1023 bytes"}, {1126, "1 K"},  // 1.09: the tenth is cut
        {10239, "9.9 K"},     {10240, "10 K"},      {1048575, "1023 K"},
        {1572864, "1.5 MB"},  {1073741824, "1.0 GB"}, {(5ull << 30) + (1ull << 29), "5.5 GB"},
    };
    for (const auto& [byteCount, text] : cases) {
        EXPECT_EQ(ZELMemoryMetricsGatherer::stringDescribingByteCount(byteCount), text)
            << byteCount;
    }
    EXPECT_EQ(ZELPrettyDivisionResult(UINT64_MAX, UINT64_MAX / 2 + 1), "1.9");  // no overflow
    EXPECT_EQ(ZELPrettyDivisionResult(5, 0), "0");
}

TEST(ZELDiagnosticCollector, DumpHasTheThreeSectionsInOrder) {
    ZELDiagnosticCollector collector;
    EXPECT_EQ(collector.allCollectedInformationDump(), "");
    collector.reportWarning("bad block", "/Users/x/Library/Mail/V2/INBOX.mbox/Info.plist");
    collector.reportWarning("bad index", "/data/db/items.index");
    collector.reportDiagnosticMessage("ratio 0.5");
    collector.addRequiredMemoryByteCount(1536);
    EXPECT_EQ(collector.allCollectedInformationDump(),
              "2 collected warnings:\n"
              "\tbad block, for URL: ../INBOX.mbox/Info.plist\n"
              "\tbad index, for URL: /data/db/items.index\n"
              "collected diagnostics:\n"
              "\tratio 0.5\n"
              "Operational RAM footprint: 1.5 K");
    collector.reset();
    EXPECT_EQ(collector.allCollectedInformationDump(), "");
}

// Reports fixed figures for two kinds of blocks in two kinds of files.
class ZELTestStore : public ZELMemoryMetricsProvider {
  public:
    void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer) const override {
        gatherer.addByteCountToRAM(1536);
        gatherer.addByteCount(10240, ZELMemoryMetricTypeDisk);
        gatherer.incrementUseCount(3, 64, 4096);
        gatherer.addByteCount(192, ZELMemoryMetricTypeUsed, 64, 4096);
        gatherer.addByteCount(2048, ZELMemoryMetricTypeFree, 64, 4096);
        gatherer.incrementUseCount(1, 1024, 4096);
        gatherer.addByteCount(1000, ZELMemoryMetricTypeUsed, 1024, 4096);
        gatherer.addByteCount(24, ZELMemoryMetricTypeFragmented, 1024, 4096);
        gatherer.addByteCount(5, ZELMemoryMetricTypeLost, 0, 8192);
        gatherer.addByteCount(0, ZELMemoryMetricTypeLost, 128, 0);  // nothing: no bucket made
    }
};

TEST(ZELMemoryMetricsGatherer, TextFormNamesOnlyWhatIsThere) {
    ZELMemoryMetricsGatherer gatherer = ZELMemoryMetricsGatherer::gatherer();
    EXPECT_EQ(gatherer.description(), "0 K RAM");
    gatherer.addByteCountToRAM(1536);
    gatherer.addByteCount(4096, ZELMemoryMetricTypeFree);  // no disk: not shown
    EXPECT_EQ(gatherer.description(), "1.5 K RAM");
    gatherer.addByteCount(10240, ZELMemoryMetricTypeDisk);
    EXPECT_EQ(gatherer.description(), "1.5 K RAM, 10 K disk (free 4 K, )");
    gatherer.addByteCount(5, ZELMemoryMetricTypeLost);
    gatherer.addByteCount(2048, ZELMemoryMetricTypeFragmented);
    EXPECT_EQ(gatherer.description(), "1.5 K RAM, 10 K disk (free 4 K, frag 2 K, lost 5 bytes, )");
    gatherer.reset();
    EXPECT_EQ(gatherer.description(), "0 K RAM");
    EXPECT_EQ(ZELMemoryMetricsGatherer::descriptionForObject(ZELTestStore()),
              "1.5 K RAM, 10 K disk");
}

}  // namespace
