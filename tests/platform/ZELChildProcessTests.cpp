#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELChildProcess.h"

namespace {

ZELChildProcessResult runShell(const std::string& script, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"-c", script, "sh"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    ZELChildProcessResult result;
    ZELError error;
    EXPECT_TRUE(ZELChildProcess::run("/bin/sh", arguments, &result, &error)) << error.description();
    return result;
}

TEST(ZELChildProcess, AnswersStandardOutputAndExitStatus) {
    ZELChildProcessResult result = runShell("printf hello; echo oops >&2; exit 3");
    EXPECT_EQ(result.standardOutput, "hello");  // standard error is not collected
    EXPECT_EQ(result.exitStatus, 3);

    result = runShell("printf '%s|' \"$@\"", {"a b", "", "c'd", "-x"});
    EXPECT_EQ(result.standardOutput, "a b||c'd|-x|");
    EXPECT_EQ(result.exitStatus, 0);

    EXPECT_EQ(runShell("kill -9 $$").exitStatus, 128 + 9);
    EXPECT_EQ(runShell("cat; echo done").standardOutput, "done\n");  // standard input is empty
}

TEST(ZELChildProcess, ReadsOutputFarLargerThanThePipeHolds) {
    ZELChildProcessResult result;
    ASSERT_TRUE(
        ZELChildProcess::run("/usr/bin/head", {"-c", "1048576", "/dev/urandom"}, &result, nullptr));
    EXPECT_EQ(result.standardOutput.size(), 1048576u);

    result = runShell("head -c 3000000 /dev/zero; exit 7");
    EXPECT_EQ(result.standardOutput, std::string(3000000, '\0'));
    EXPECT_EQ(result.exitStatus, 7);
}

using ZELChildProcessFolderTest = ZELTestFolderTest;

TEST_F(ZELChildProcessFolderTest, UnstartableExecutableIsAnErrorWithErrno) {
    ZELError error;
    ZELChildProcessResult result{42, "untouched"};
    EXPECT_FALSE(ZELChildProcess::run("/nonexistent/zel-tool", {}, &result, &error));
    EXPECT_EQ(error.domain(), ZELPlatformErrorDomain);
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(result.standardOutput, "untouched");

    const std::string plainFile = folder_ / "plain";
    std::ofstream(plainFile) << "#!/bin/sh\n";
    std::filesystem::permissions(
        plainFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(ZELChildProcess::run(plainFile, {}, nullptr, &error));
    EXPECT_EQ(error.code(), EACCES);
}

TEST(ZELChildProcess, LeavesNoDescriptorsOpen) {
    auto openDescriptorCount = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openDescriptorCount();
    for (int i = 0; i < 20; ++i) ZELChildProcess::run("/bin/true", {}, nullptr, nullptr);
    ZELChildProcess::run("/nonexistent", {}, nullptr, nullptr);
    EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
