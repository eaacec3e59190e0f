#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "support/ZELTestEnvironment.h"
#include "support/ZELTestFileBytes.h"
#include "support/ZELTestLogCapture.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELFileManager.h"

namespace {

namespace fs = std::filesystem;

// Every test works inside its own fresh folder (in RAM where there is one: one test makes ten
// thousand files).
class ZELFileManagerTest : public ZELTestFolderTest {
protected:
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    static void write(const std::string& path, const std::string& contents) {
        ZELTestWriteFile(path, contents);
    }
    static std::string read(const std::string& path) { return ZELTestReadFile<std::string>(path); }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ZELFileManagerTest, UniquePathNumbersTheNameBeforeItsExtension) {
    ZELError error;
    EXPECT_EQ(ZELFileManager::uniqueNonExistantFilePathForPath(path("a.txt"), &error),
              path("a.txt"));
    write(path("a.txt"), "");
    EXPECT_EQ(ZELFileManager::uniqueNonExistantFilePathForPath(path("a.txt"), &error),
              path("a-2.txt"));
    write(path("a-2.txt"), "");
    EXPECT_EQ(ZELFileManager::uniqueNonExistantFilePathForPath(path("a.txt"), &error),
              path("a-3.txt"));
    for (const auto& [name, unique] : {std::pair{"a", "a-2"}, {".hidden", ".hidden-2"}, {"b.tar.gz", "b.tar-2.gz"}, {"c.", "c.-2"}}) {
        write(path(name), "");
        EXPECT_EQ(ZELFileManager::uniqueNonExistantFilePathForPath(path(name), &error), path(unique));
    }
}

TEST_F(ZELFileManagerTest, UniquePathGivesUpAfterTheLastCandidate) {
    write(path("f"), "");
    for (int n = 2; n <= 9998; ++n) write(path("f-" + std::to_string(n)), "");
    ZELError error;
    EXPECT_EQ(ZELFileManager::uniqueNonExistantFilePathForPath(path("f"), &error), std::nullopt);
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess));
    EXPECT_EQ(error.failureReason(), "could not make unique file");
}

TEST_F(ZELFileManagerTest, ReplacingSwapsContentsAtomicallyAndCleansUp) {
    ZELError error;
    write(path("list.sort"), "old contents");
    const auto temporary =
        ZELFileManager::temporaryItemURLForReplacingItemAtURL(path("list.sort"), &error);
    ASSERT_TRUE(temporary) << error.description();
    EXPECT_EQ(fs::path(*temporary).filename(), "list.sort");
    EXPECT_EQ(fs::path(*temporary).parent_path().parent_path(), folder_);  // same file system
    write(*temporary, "new contents");

    ASSERT_TRUE(ZELFileManager::replaceItemAtURL(path("list.sort"), *temporary, &error))
        << error.description();
    EXPECT_EQ(read(path("list.sort")), "new contents");
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"list.sort"});  // temporary folder gone

    // A missing replacement leaves the item alone.
    EXPECT_FALSE(ZELFileManager::replaceItemAtURL(path("list.sort"), path("missing"), &error));
    EXPECT_EQ(error.domain(), ZELPlatformErrorDomain);
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(read(path("list.sort")), "new contents");
}

TEST_F(ZELFileManagerTest, ReplacingAFolderExchangesItWhole) {
    ZELError error;
    fs::create_directory(path("store"));
    write(path("store/old.data"), "old");
    const auto temporary =
        ZELFileManager::temporaryItemURLForReplacingItemAtURL(path("store/"), &error);
    ASSERT_TRUE(temporary);
    fs::create_directory(*temporary);
    write(*temporary + "/new.data", "new");
    ASSERT_TRUE(ZELFileManager::replaceItemAtURL(path("store"), *temporary, &error))
        << error.description();
    EXPECT_EQ(read(path("store/new.data")), "new");
    EXPECT_FALSE(fs::exists(path("store/old.data")));
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"store"});
}

TEST_F(ZELFileManagerTest, TemporaryItemsLiveInAPrivateFolder) {
    ZELError error;
    const auto first = ZELFileManager::temporaryItemURLWithLastPathComponent("migrated", &error);
    ASSERT_TRUE(first) << error.description();
    EXPECT_EQ(fs::path(*first).filename(), "migrated");
    struct stat info;
    ASSERT_EQ(stat(fs::path(*first).parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    write(*first, "taken");
    EXPECT_EQ(ZELFileManager::temporaryItemURLWithLastPathComponent("migrated", &error),
              *first + "-2");
    fs::remove(*first);

    EXPECT_FALSE(ZELFileManager::temporaryItemURLWithLastPathComponent("../escape", &error));
    EXPECT_EQ(error.code(), EINVAL);
}

TEST_F(ZELFileManagerTest, ByteCountOnDiskSumsEveryFileOfATree) {
    EXPECT_EQ(ZELFileManager::byteCountOnDiskAtURL(path("missing")), 0u);
    fs::create_directories(path("tree/sub/deeper"));
    const std::vector<std::pair<std::string, size_t>> files{
        {"tree/a", 100}, {"tree/sub/b", 5000}, {"tree/sub/deeper/c", 70000}, {"tree/sub/empty", 0}};
    uint64_t expected = 0;
    for (const auto& [name, size] : files) {
        write(path(name), std::string(size, 'z'));
        struct stat info;
        ASSERT_EQ(stat(path(name).c_str(), &info), 0);
        const uint64_t allocated = static_cast<uint64_t>(info.st_blocks) * 512;
        EXPECT_EQ(ZELFileManager::byteCountOnDiskAtURL(path(name)), allocated) << name;
        expected += allocated;
    }
    fs::create_directory_symlink(folder_, path("tree/loop"));  // not followed
    EXPECT_EQ(ZELFileManager::byteCountOnDiskAtURL(path("tree")), expected);
    EXPECT_GE(expected, 75100u);
}

TEST_F(ZELFileManagerTest, CreatesFoldersWithTheirParents) {
    ZELError error;
    EXPECT_TRUE(ZELFileManager::createDirectoryRecursivelyAtURL(path("x/y/z"), &error));
    EXPECT_TRUE(fs::is_directory(path("x/y/z")));
    EXPECT_TRUE(ZELFileManager::createDirectoryRecursivelyAtURL(path("x/y/z/"), &error));  // exists

    write(path("file"), "");
    EXPECT_FALSE(ZELFileManager::createDirectoryRecursivelyAtURL(path("file/sub"), &error));
    EXPECT_EQ(error.code(), ENOTDIR);
    EXPECT_FALSE(ZELFileManager::createDirectoryRecursivelyAtURL(path("file"), &error));
    EXPECT_EQ(error.code(), EEXIST);
}

TEST_F(ZELFileManagerTest, ApplicationSupportFolderFollowsTheDataHome) {
    EXPECT_EQ(ZELFileManager::applicationName(), "zel_platform_tests");
    ZELFileManager::setApplicationName("ZELTestApp");
    ZELError error;
    {
        ZELTestScopedEnvironment dataHome("XDG_DATA_HOME", path("data"));
        EXPECT_EQ(ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(false, &error),
                  path("data/ZELTestApp"));
        EXPECT_FALSE(fs::exists(path("data")));
        EXPECT_EQ(ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(true, &error),
                  path("data/ZELTestApp"));
        EXPECT_TRUE(fs::is_directory(path("data/ZELTestApp")));
    }
    {
        ZELTestScopedEnvironment relativeDataHome("XDG_DATA_HOME", "relative/ignored");
        ZELTestScopedEnvironment home("HOME", folder_.string());
        EXPECT_EQ(ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(false, &error),
                  path(".local/share/ZELTestApp"));
    }
    ZELFileManager::setApplicationName("zel_platform_tests");
}

TEST_F(ZELFileManagerTest, FindsToolsInUsrBinThenThroughWhichAndRemembersMisses) {
    ZELTestLogCapture log;  // a miss is logged

    EXPECT_EQ(ZELFileManager::commandLineExecutablePathForToolName("sh"), "/usr/bin/sh");

    // A tool only on the PATH is found by which.
    const std::string toolName = "zeltool" + std::to_string(::getpid());
    write(path(toolName), "#!/bin/sh\n");
    fs::permissions(path(toolName), fs::perms::owner_all);
    {
        ZELTestScopedEnvironment searchPath("PATH", folder_.string() + ":" + std::getenv("PATH"));
        EXPECT_EQ(ZELFileManager::commandLineExecutablePathForToolName(toolName), path(toolName));
    }

    const std::string missing = "zel-missing-" + toolName;
    EXPECT_EQ(ZELFileManager::commandLineExecutablePathForToolName(missing), std::nullopt);
    EXPECT_EQ(ZELFileManager::commandLineExecutablePathForToolName(missing), std::nullopt);
    EXPECT_EQ(log.lines().size(), 1u);
}

// A zip archive (stored, no compression) holding "hello.txt" and "sub/inner.txt".
const char kArchive[] =
    "\x50\x4b\x03\x04\x14\x00\x00\x00\x00\x00\x00\x00\x21\x58\x71\x6d\x7c\xa7\x0a\x00\x00\x00\x0a"
    "\x00\x00\x00\x09\x00\x00\x00\x68\x65\x6c\x6c\x6f\x2e\x74\x78\x74\x68\x65\x6c\x6c\x6f\x20\x7a"
    "\x65\x6c\x0a\x50\x4b\x03\x04\x14\x00\x00\x00\x00\x00\x00\x00\x21\x58\x8c\x4d\x02\xd0\x06\x00"
    "\x00\x00\x06\x00\x00\x00\x0d\x00\x00\x00\x73\x75\x62\x2f\x69\x6e\x6e\x65\x72\x2e\x74\x78\x74"
    "\x69\x6e\x6e\x65\x72\x0a\x50\x4b\x01\x02\x14\x03\x14\x00\x00\x00\x00\x00\x00\x00\x21\x58\x71"
    "\x6d\x7c\xa7\x0a\x00\x00\x00\x0a\x00\x00\x00\x09\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x80\x01\x00\x00\x00\x00\x68\x65\x6c\x6c\x6f\x2e\x74\x78\x74\x50\x4b\x01\x02\x14\x03\x14\x00"
    "\x00\x00\x00\x00\x00\x00\x21\x58\x8c\x4d\x02\xd0\x06\x00\x00\x00\x06\x00\x00\x00\x0d\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x01\x31\x00\x00\x00\x73\x75\x62\x2f\x69\x6e\x6e\x65"
    "\x72\x2e\x74\x78\x74\x50\x4b\x05\x06\x00\x00\x00\x00\x02\x00\x02\x00\x72\x00\x00\x00\x62\x00"
    "\x00\x00\x00\x00";

TEST_F(ZELFileManagerTest, UnarchivesZipFilesWithUnzip) {
    if (!ZELFileManager::commandLineExecutablePathForToolName("unzip")) GTEST_SKIP() << "no unzip";
    write(path("resources.zip"), std::string(kArchive, sizeof kArchive - 1));
    EXPECT_TRUE(ZELFileManager::unarchiveFileAtURL(path("resources.zip"), path("out")));
    EXPECT_EQ(read(path("out/hello.txt")), "hello zel\n");
    EXPECT_EQ(read(path("out/sub/inner.txt")), "inner\n");

    write(path("broken.zip"), std::string(kArchive, 40));
    EXPECT_FALSE(ZELFileManager::unarchiveFileAtURL(path("broken.zip"), path("out2")));
}

}  // namespace
