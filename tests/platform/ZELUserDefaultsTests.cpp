#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/ZELTestEnvironment.h"
#include "support/ZELTestFileBytes.h"
#include "support/ZELTestLogCapture.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELUserDefaults.h"

namespace {

class ZELUserDefaultsTest : public ZELTestFolderTest {
protected:
    std::string path(const std::string& name) const { return folder_ / name; }
};

class TestObject : public ZELObject {};

}  // namespace

TEST_F(ZELUserDefaultsTest, ValuesPersistThroughSynchronize) {
    const std::string path = this->path("App/nested/defaults.plist");
    {
        ZELUserDefaults defaults(path);
        EXPECT_TRUE(defaults.objectForKey("missing").isNone());
        defaults.setObject("LastFormat", ZELValue(u"public.rtf"));
        defaults.setObject("Count", ZELValue(3));
        defaults.setObject("Gone", ZELValue(true));
        defaults.removeObjectForKey("Gone");
        defaults.setObject("AlsoGone", ZELValue(1.5));
        defaults.setObject("AlsoGone", ZELValue());  // none removes
        EXPECT_EQ(defaults.objectForKey("Count"), ZELValue(3));
        EXPECT_FALSE(std::filesystem::exists(path));  // nothing is written before synchronize

        ZELError error;
        ASSERT_TRUE(defaults.synchronize(&error)) << error.description();
    }
    std::string expected;
    ASSERT_TRUE(ZELPropertyList::xmlData(
        ZELValue(ZELValue::Dictionary{{u"Count", ZELValue(3)},
                                      {u"LastFormat", ZELValue(u"public.rtf")}}),
        &expected, nullptr));
    EXPECT_EQ(ZELTestReadFile<std::string>(path), expected);

    ZELUserDefaults reread(path);
    EXPECT_EQ(reread.objectForKey("LastFormat"), ZELValue(u"public.rtf"));
    EXPECT_TRUE(reread.objectForKey("Gone").isNone());
}

TEST_F(ZELUserDefaultsTest, SynchronizeWritesOnlyAfterAChange) {
    const std::string path = this->path("defaults.plist");
    ZELUserDefaults defaults(path);
    defaults.setObject("Key", ZELValue(1));
    ASSERT_TRUE(defaults.synchronize(nullptr));

    // Unchanged, and setting an equal value or removing an absent key is no change.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    defaults.setObject("Key", ZELValue(1));
    defaults.removeObjectForKey("Absent");
    ASSERT_TRUE(defaults.synchronize(nullptr));
    EXPECT_FALSE(std::filesystem::exists(path));

    defaults.setObject("Key", ZELValue(2));
    ASSERT_TRUE(defaults.synchronize(nullptr));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ZELUserDefaultsTest, DamagedFilesAreLoggedReadAsEmptyAndKept) {
    const std::string path = this->path("defaults.plist");
    std::string array;
    ASSERT_TRUE(ZELPropertyList::xmlData(ZELValue(ZELValue::Array{ZELValue(1)}), &array, nullptr));
    for (const std::string& damaged :
         {std::string("<plist><dict><key>A</key><integer>x</integer></dict></plist>"), array}) {
        ZELTestWriteFile(path, damaged);
        ZELTestLogCapture log;
        ZELUserDefaults defaults(path);
        EXPECT_TRUE(defaults.objectForKey("A").isNone());
        EXPECT_EQ(log.lines().size(), 1u);
        defaults.setObject("A", ZELValue(1));
        ASSERT_TRUE(defaults.synchronize(nullptr));
        EXPECT_EQ(ZELTestReadFile<std::string>(path + ".damaged"), damaged);
        EXPECT_EQ(ZELUserDefaults(path).objectForKey("A"), ZELValue(1));
    }
}

TEST_F(ZELUserDefaultsTest, ValuesWithoutPropertyListFormAreNotStored) {
    ZELTestLogCapture log;
    ZELUserDefaults defaults(path("defaults.plist"));
    defaults.setObject("Object", ZELValue(std::make_shared<TestObject>()));
    defaults.setObject("Control", ZELValue(ZELString{u'a', 0x0007}));
    defaults.setObject(std::string_view("Nul\0key", 7), ZELValue(1));
    EXPECT_TRUE(defaults.objectForKey("Object").isNone());
    EXPECT_TRUE(defaults.objectForKey("Control").isNone());
    EXPECT_EQ(log.lines().size(), 3u);
    // Nothing changed, so nothing is written.
    ASSERT_TRUE(defaults.synchronize(nullptr));
    EXPECT_FALSE(std::filesystem::exists(path("defaults.plist")));
}

TEST_F(ZELUserDefaultsTest, AnUnwritableFileFailsSynchronize) {
    ZELTestWriteFile(path("file"), "");
    // A file stands where the store's folder should be.
    const std::string path = this->path("file/defaults.plist");
    ZELTestLogCapture log;
    ZELUserDefaults defaults(path);
    defaults.setObject("Key", ZELValue(1));
    ZELError error;
    EXPECT_FALSE(defaults.synchronize(&error));
    EXPECT_EQ(error.domain(), ZELPlatformErrorDomain);
    EXPECT_EQ(error.code(), EEXIST);

    // Once the way is clear, the same store writes.
    ASSERT_EQ(::unlink(this->path("file").c_str()), 0);
    ASSERT_TRUE(defaults.synchronize(&error)) << error.description();
    EXPECT_EQ(ZELUserDefaults(path).objectForKey("Key"), ZELValue(1));
}

TEST_F(ZELUserDefaultsTest, ManyThreadsShareOneStore) {
    ZELUserDefaults defaults(path("defaults.plist"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 200; ++i) {
                const std::string key = "k" + std::to_string(t) + "." + std::to_string(i);
                defaults.setObject(key, ZELValue(i));
                EXPECT_EQ(defaults.objectForKey(key), ZELValue(i));
                if (i % 50 == 0) {
                    EXPECT_TRUE(defaults.synchronize(nullptr));
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(defaults.synchronize(nullptr));
    ZELValue stored;
    ASSERT_TRUE(ZELPropertyList::readFile(defaults.filePath(), &stored, nullptr));
    EXPECT_EQ(stored.dictionaryValue().size(), 800u);
    EXPECT_EQ(*stored.valueForKey("k3.199"), ZELValue(199));
}

TEST_F(ZELUserDefaultsTest, StandardStoreLivesUnderTheConfigFolder) {
    {
        ZELTestScopedEnvironment config("XDG_CONFIG_HOME", "/config/home");
        const std::string path = ZELUserDefaults::standardFilePath();
        EXPECT_EQ(path.rfind("/config/home/", 0), 0u) << path;
        EXPECT_TRUE(path.ends_with("/defaults.plist")) << path;
    }
    {
        ZELTestScopedEnvironment config("XDG_CONFIG_HOME", "relative/is/ignored");
        EXPECT_NE(ZELUserDefaults::standardFilePath().find("/.config/"), std::string::npos);
    }

    ZELTestLogCapture log;
    ZELUserDefaults::setApplicationName("a/b");
    EXPECT_EQ(&ZELUserDefaults::standard(), &ZELUserDefaults::standard());
    const std::string before = ZELUserDefaults::standardFilePath();
    ZELUserDefaults::setApplicationName("AnotherName");  // too late: the standard store exists
    EXPECT_EQ(ZELUserDefaults::standardFilePath(), before);
    EXPECT_EQ(log.lines().size(), 2u);  // the bad name and the late one
}
