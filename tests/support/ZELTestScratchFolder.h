#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A scratch path for the running test, "<prefix>-<process>-<suite>-<test>", under /dev/shm
// unless TMPDIR is set; removed when it existed, not made.
inline std::filesystem::path ZELTestScratchFolder(const std::string& prefix) {
    const std::filesystem::path base = (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path folder = base / (prefix + "-" + std::to_string(::getpid()) + "-" +
                                                 info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(folder);
    return folder;
}

// A fixture whose every test gets a fresh scratch folder, made before it and removed after it.
class ZELTestFolderTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(folder_); }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    const std::filesystem::path folder_ = ZELTestScratchFolder("zel-test");
};
