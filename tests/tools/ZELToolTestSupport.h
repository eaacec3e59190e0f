#pragma once

// What the tool tests share: running a command in-process, and a scratch folder per test whose
// databases must check clean.

#include <fstream>
#include <sstream>
#include <vector>

#include "support/ZELTestDatabaseCheck.h"
#include "support/ZELTestScratchFolder.h"
#include "ZELTool.h"

// The exit status and the texts one command wrote.
struct ZELToolRun {
    int status;
    std::string out;
    std::string err;
};

inline ZELToolRun zel(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    const int status = ZELToolMain(arguments, ZELToolOutput{out, err});
    return {status, out.str(), err.str()};
}

// The output of a command that must succeed (its errors are reported when it fails).
inline std::string zelOut(const std::vector<std::string>& arguments) {
    const ZELToolRun run = zel(arguments);
    EXPECT_EQ(run.status, ZELToolExitSuccess) << run.err;
    return run.out;
}

// The error text of a command that must fail (not a usage error).
inline std::string zelErr(const std::vector<std::string>& arguments) {
    const ZELToolRun run = zel(arguments);
    EXPECT_EQ(run.status, ZELToolExitFailure) << run.out;
    return run.err;
}

class ZELToolScratchTest : public ZELTestFolderTest {
protected:
    void TearDown() override {
        if (!isDamagedOnPurpose_) ZELTestExpectCleanDatabaseFolders(folder_);
        ZELTestFolderTest::TearDown();
    }

    // Writes `text` to the file `name` in the scratch folder; answers its path.
    std::string write(const std::string& name, const std::string& text) {
        const std::filesystem::path file = folder_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    // Set by a test that damages a database on purpose: the teardown then skips the check.
    bool isDamagedOnPurpose_ = false;
};
