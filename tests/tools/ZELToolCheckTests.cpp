#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ZELToolTestSupport.h"
#include "support/ZELTestFileBytes.h"

namespace {

// zel check on a clean folder, on a damaged one, with --repair, with --disk, and with wrong
// arguments.
TEST_F(ZELToolScratchTest, CheckReportsProblemsAndRepairsDerivedFiles) {
    const std::string db = path("db");
    const std::string schema =
        write("schema.json", R"({"identifier": "org.example.check", "clientVersion": 1,
        "aspects": [{"identifier": "title", "tokenizer": "ZELWordTokenizer"}]})");
    ASSERT_EQ(zel({"create", db, "--schema", schema}).status, ZELToolExitSuccess);
    const std::string items =
        write("items.jsonl", "{\"title\": \"apple banana\"}\n{\"title\": \"cherry\"}\n");
    ASSERT_EQ(zel({"add", db, items}).status, ZELToolExitSuccess);

    ZELToolRun run = zel({"check", db});
    EXPECT_EQ(run.status, ZELToolExitSuccess);
    EXPECT_EQ(run.out, "zel check: 0 problems in 4 stores, 1 sort file, 2 items\n");

    // The first two keys of the sort file swapped.
    const std::filesystem::path sortFile = dir_ / "db" / "aspects" / "title.sort";
    std::vector<uint8_t> bytes = ZELTestReadFile(sortFile);
    std::swap_ranges(bytes.begin() + 8, bytes.begin() + 12, bytes.begin() + 12);
    ZELTestWriteFile(sortFile, bytes);
    run = zel({"check", db});
    EXPECT_EQ(run.status, ZELToolExitFailure);
    EXPECT_EQ(
        run.out,
        "aspects/title.sort: not in sort order at 1 places, first \"banana\" before \"apple\"\n"
        "zel check: 1 problem in 4 stores, 1 sort file, 2 items\n");

    run = zel({"check", db, "--repair"});
    EXPECT_EQ(run.status, ZELToolExitSuccess);
    EXPECT_EQ(run.out,
              "repaired aspects/title.sort: rebuilt from the value store, 3 keys\n"
              "zel check: 0 problems in 4 stores, 1 sort file, 2 items\n");

    // --disk adds the breakdown: one row per store with its object count, then the folder's
    // other files and the whole, whose total is the folder's size.
    run = zel({"check", db, "--disk"});
    EXPECT_EQ(run.status, ZELToolExitSuccess);
    uint64_t folderBytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "db")) {
        if (entry.is_regular_file()) folderBytes += entry.file_size();
    }
    char total[32];
    std::snprintf(total, sizeof(total), "%.2f |\n", static_cast<double>(folderBytes) / 1e6);
    const std::string table = run.out.substr(run.out.find("\n\n") + 2);
    size_t row = 0;
    for (const char* start :
         {"| store | objects | object MB | block slack MB | free MB | index MB | other MB | total MB |",
          "| --- |", "| items | 2 |", "| aspectValues | 3 |", "| aspectBitIDVectors | 2 |",
          "| itemIDVectors | 3 |", "| other files |", "| all | 10 |"}) {
        row = table.find(start, row);
        ASSERT_NE(row, std::string::npos) << start << " in\n" << table;
    }
    EXPECT_EQ(table.substr(table.size() - std::strlen(total)), total) << table;

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"check"}, {"check", db, "--fix"}, {"check", db, db}}) {
        EXPECT_EQ(zel(arguments).status, ZELToolExitUsage) << arguments.size();
    }
}

}  // namespace
