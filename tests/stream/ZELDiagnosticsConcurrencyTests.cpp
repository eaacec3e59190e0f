#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/ZELTestLogCapture.h"
#include "zel/stream/ZELDefs.h"
#include "zel/stream/ZELDiagnosticCollector.h"

namespace {

constexpr int kThreadCount = 4;
constexpr int kReportsPerThread = 500;

TEST(ZELDiagnosticCollectorConcurrency, ReportsFromSeveralThreadsAreAllKept) {
    ZELDiagnosticCollector collector;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreadCount; ++t) {
        threads.emplace_back([&collector, t] {
            for (int i = 0; i < kReportsPerThread; ++i) {
                collector.reportWarning("w" + std::to_string(t), "/a/Mail/V2/b");
                collector.reportDiagnosticMessage("m");
                collector.addRequiredMemoryByteCount(2);
                if (i % 50 == 0) collector.allCollectedInformationDump();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(collector.allReportedWarnings().size(), size_t{kThreadCount * kReportsPerThread});
    EXPECT_EQ(collector.allReportedDiagnosticMessages().size(),
              size_t{kThreadCount * kReportsPerThread});
    EXPECT_EQ(collector.totalRequiredMemoryByteCount(),
              uint64_t{2 * kThreadCount * kReportsPerThread});
}

TEST(ZELAssertFailedConcurrency, EveryFailureLogsOneLine) {
    ZELTestLogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreadCount; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kReportsPerThread; ++i) {
                ZELAssertFailed(t % 2 ? "odd" : "even", "ZELThreads.cpp", 1 + t % 2);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(log.lines().size(), size_t{kThreadCount * kReportsPerThread});
}

}  // namespace
