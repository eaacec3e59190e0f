
#include <cstdio>
#include <cstring>
#include <map>

#include "ZELJSON.h"
#include "ZELToolTestSupport.h"
#include "support/ZELTestFileBytes.h"

namespace fs = std::filesystem;

namespace {

using ToolRun = ZELToolRun;

size_t lineCount(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Every file under `folder` with its bytes, to check that a failed command changed nothing.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).string()] =
                ZELTestReadFile<std::string>(entry.path());
        }
    }
    return files;
}

const char* kSchema = R"({
  "identifier": "org.example.notes",
  "clientVersion": 2,
  "existenceKey": "id",
  "dateKeys": ["date"],
  "aspects": [
    {"identifier": "title", "tokenizer": "ZELWordTokenizer"},
    {"identifier": "id", "tokenizer": "ZELIdentityValueTokenizer", "detectsDuplicates": true},
    {"identifier": "year", "tokenizer": "ZELDateYearTokenizer", "key": "date"}
  ]
}
)";

class ZELToolTest : public ZELToolScratchTest {
protected:
    // A database "db" made from kSchema.
    std::string createDatabase() {
        const ToolRun created = zel({"create", path("db"), "--schema", write("schema.json", kSchema)});
        EXPECT_EQ(created.status, ZELToolExitSuccess) << created.err;
        return path("db");
    }
};

}  // namespace

TEST_F(ZELToolTest, TokenizeListsTokensWithTheirNormalizedForms) {
    const ToolRun plain = zel({"tokenize", "ZELWordTokenizer", "hello Zebra Hello apple"});
    EXPECT_EQ(plain.status, ZELToolExitSuccess);
    EXPECT_EQ(plain.out, "apple\tapple\nHello\thello\nhello\thello\nZebra\tzebra\n");

    const ToolRun typed = zel({"tokenize", "ZELWordTokenizer", "--user-input", "zebra apple"});
    EXPECT_EQ(typed.status, ZELToolExitSuccess);
    EXPECT_EQ(typed.out, "zebra\tzebra\napple\tapple\n");

    const ToolRun identity = zel({"tokenize", "ZELIdentityValueTokenizer", "Café Noir"});
    EXPECT_EQ(identity.out, "Café Noir\tcafe\xCC\x81 noir\n");  // normalized: decomposed, lower case
}

TEST_F(ZELToolTest, HelpAndUnknownCommandsClassesAndArguments) {
    EXPECT_EQ(zelErr({"tokenize", "ZELNoSuchTokenizer", "text"}),
              "zel: unknown tokenizer class \"ZELNoSuchTokenizer\"\n");
    EXPECT_EQ(zel({"tokenize", "ZELWordTokenizer"}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"tokenize", "ZELWordTokenizer", "x", "--colour"}).status, ZELToolExitUsage);
    const ToolRun badOptions = zel({"tokenize", "ZELWordTokenizer", "x", "--options", "{nope"});
    EXPECT_EQ(badOptions.status, ZELToolExitFailure);
    EXPECT_EQ(lineCount(badOptions.err), 1u);

    // Help, and commands missing or unknown.
    const ToolRun help = zel({"--help"});
    EXPECT_EQ(help.status, ZELToolExitSuccess);
    EXPECT_NE(help.out.find("zel create DIR --schema SCHEMA.json"), std::string::npos);
    EXPECT_EQ(zel({}).status, ZELToolExitUsage);
    const ToolRun unknown = zel({"frobnicate"});
    EXPECT_EQ(unknown.status, ZELToolExitUsage);
    EXPECT_NE(unknown.err.find("unknown command \"frobnicate\""), std::string::npos);
}

TEST_F(ZELToolTest, CreateAddDumpAndStats) {
    const std::string db = createDatabase();
    const std::string items = write("items.jsonl",
                                    "{\"id\": \"a\", \"title\": \"Hello World\", \"date\": \"2021-03-04\"}\n"
                                    "\n"
                                    "{\"id\": \"b\", \"title\": \"Hello again\", \"date\": 1640995200}\n");

    const ToolRun added = zel({"add", db, items});
    ASSERT_EQ(added.status, ZELToolExitSuccess) << added.err;
    EXPECT_EQ(added.out, "added 2 records, matched 0 duplicates; 2 items in " + db + "\n");
    EXPECT_EQ(added.err, "");

    // Each command opens the folder afresh: what dump shows was saved.
    const ToolRun dump = zel({"dump", db});
    ASSERT_EQ(dump.status, ZELToolExitSuccess) << dump.err;
    EXPECT_EQ(dump.out.substr(0, dump.out.find('\n')), "database \"org.example.notes\": 2 items, 3 aspects");
    for (const char* expected : {
             "aspect 1 \"title\" (ZELWordTokenizer, key \"title\"): 3 terms\n",
             "\"Hello\" (\"hello\") uses 2\n",
             "aspect 2 \"id\" (ZELIdentityValueTokenizer, key \"id\", detects duplicates): 2 terms\n",
             "\"2022\" uses 1\n",
             "item 1 {\"date\":{\"$date\":\"2021-03-04T00:00:00Z\"},\"id\":\"a\",\"title\":\"Hello World\"}\n",
             "item 2 {\"date\":{\"$date\":\"2022-01-01T00:00:00Z\"},\"id\":\"b\",\"title\":\"Hello again\"}\n",
         }) {
        EXPECT_NE(dump.out.find(expected), std::string::npos) << expected << "\n--- in ---\n" << dump.out;
    }

    const ToolRun stats = zel({"stats", db});
    ASSERT_EQ(stats.status, ZELToolExitSuccess) << stats.err;
    EXPECT_NE(stats.out.find("client version: 2"), std::string::npos);
    EXPECT_NE(stats.out.find("items: 2 (largest item ID 2)\n"), std::string::npos);
    EXPECT_NE(stats.out.find("  1 \"title\": 3 terms (ZELWordTokenizer)\n"), std::string::npos);
}

TEST_F(ZELToolTest, RecordsWithAKnownExistenceValueUpdateTheStoredOne) {
    const std::string db = createDatabase();
    ASSERT_EQ(zel({"add", db, write("first.jsonl", "{\"id\": \"a\", \"title\": \"old words\"}\n")}).status,
              ZELToolExitSuccess);

    const ToolRun again = zel({"add", db, write("second.jsonl", "{\"id\": \"a\", \"title\": \"new words\"}\n")});

    ASSERT_EQ(again.status, ZELToolExitSuccess) << again.err;
    EXPECT_EQ(again.out, "added 0 records, matched 1 duplicate; 1 items in " + db + "\n");
    const ToolRun dump = zel({"dump", db});
    EXPECT_NE(dump.out.find("item 1 {\"id\":\"a\",\"title\":\"new words\"}"), std::string::npos) << dump.out;
    EXPECT_NE(dump.out.find("\"words\" uses 1\n"), std::string::npos) << dump.out;
    EXPECT_EQ(dump.out.find("\"old\""), std::string::npos) << dump.out;
}

TEST_F(ZELToolTest, BadRecordsLeaveTheDatabaseAsItWas) {
    const std::string db = createDatabase();
    ASSERT_EQ(zel({"add", db, write("good.jsonl", "{\"id\": \"a\", \"title\": \"kept\"}\n")}).status, ZELToolExitSuccess);
    const auto before = snapshot(db);
    const struct {
        const char* lines;
        const char* error;  // after "zel: <path>:"
    } cases[] = {
        {"{\"id\": \"b\"}\n{\"id\": \"c\"}\n{\"id\": \n", "3: not valid JSON: syntax error"},
        {"{\"id\": \"b\"}\n[1, 2]\n", "2: a record must be a JSON object\n"},
        {"{\"id\": \"b\", \"date\": \"yesterday\"}\n",
         "1: \"date\" is not a date (an ISO 8601 text or a number of seconds)\n"},
        {"\n\n{\"when\": {\"$date\": true}}\n", "3: \"$date\" needs an ISO 8601 date text"},
        {"{\"id\": \"b\"}\n{\"blob\": {\"$data\": \"abc\"}}\n", "2: \"$data\" needs a base64 text\n"},
    };
    for (const auto& c : cases) {
        const ToolRun run = zel({"add", db, write("bad.jsonl", c.lines)});
        EXPECT_EQ(run.status, ZELToolExitFailure) << c.lines;
        EXPECT_EQ(run.err.rfind("zel: " + path("bad.jsonl") + ":" + c.error, 0), 0u) << run.err;
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
        EXPECT_EQ(snapshot(db), before) << c.lines;
    }
    const ToolRun missing = zel({"add", db, path("missing.jsonl")});
    EXPECT_EQ(missing.status, ZELToolExitFailure);
    EXPECT_EQ(snapshot(db), before);
}

TEST_F(ZELToolTest, SchemaErrorsNameTheFileAndLine) {
    const struct {
        const char* schema;
        const char* error;  // after "zel: <path>:"
    } cases[] = {
        {"{\"identifier\": \"x\",\n \"aspects\": [\n  {\"identifier\": \"t\",\n   \"tokenizer\": \"ZELNope\"}]}",
         "4: aspect \"t\": unknown tokenizer class \"ZELNope\""},
        {"{\"identifier\": \"x\",\n \"aspects\": [\n  {\"identifier\": \"t\", \"tokenizer\": \"ZELWordTokenizer\",\n   \"colour\": 1}]}",
         "4: aspect 1: unknown key \"colour\""},
        {"{\"identifier\": \"x\",\n \"aspects\": [{\"identifier\": \"t\", \"tokenizer\": \"ZELWordTokenizer\"},\n"
         "   {\"identifier\": \"t\", \"tokenizer\": \"ZELWordTokenizer\"}]}",
         "3: aspect \"t\" is defined twice"},
        {"{\"identifier\": \"x\",\n\n \"aspects\": []}", "3: \"aspects\" must be a non-empty list of aspect objects"},
        {"{\"identifier\": \"x\",\n \"aspects\": [\n{\"identifier\": \"t\", \"tokenizer\": \"ZELWordTokenizer\",\n"
         " \"defaultBooleanOp\": \"XOR\"}]}",
         "4: aspect \"t\": \"defaultBooleanOp\" must be \"AND\", \"OR\" or \"NOT\""},
        {"{\"identifier\": \"x\",\n \"aspects\": [\n  {\"identifier\": \"t\",,}]}", "3: not valid JSON: "},
        {"{\"identifier\": \"x\", \"colour\": 1,\n \"aspects\": []}", "1: unknown key \"colour\""},
    };
    for (const auto& c : cases) {
        const std::string schema = write("schema.json", c.schema);
        const ToolRun run = zel({"create", path("db"), "--schema", schema});
        EXPECT_EQ(run.status, ZELToolExitFailure) << c.schema;
        EXPECT_EQ(run.err.rfind("zel: " + schema + ":" + c.error, 0), 0u) << run.err;
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
        EXPECT_FALSE(fs::exists(path("db"))) << c.schema;
    }
}

TEST_F(ZELToolTest, CreateRefusesFoldersOfOtherDatabasesAndOtherFiles) {
    const std::string db = createDatabase();
    const auto before = snapshot(db);
    std::string other = kSchema;
    other.replace(other.find("org.example.notes"), 17, "org.example.other");

    EXPECT_EQ(zelErr({"create", db, "--schema", write("other.json", other)}),
              "zel: " + db + ": the folder belongs to the database \"org.example.notes\", not \"org.example.other\"\n");
    const ToolRun same = zel({"create", db, "--schema", path("schema.json")});
    EXPECT_EQ(same.status, ZELToolExitFailure);
    EXPECT_EQ(snapshot(db), before);

    fs::create_directory(path("full"));
    write("full/.hidden", "x");
    const ToolRun full = zel({"create", path("full"), "--schema", path("schema.json")});
    EXPECT_EQ(full.status, ZELToolExitFailure);
    EXPECT_EQ(full.err, "zel: " + path("full") + ": the folder is not empty and holds no database\n");
    EXPECT_EQ(snapshot(path("full")).size(), 1u);

    // An empty folder is fine.
    fs::create_directory(path("empty"));
    EXPECT_EQ(zel({"create", path("empty"), "--schema", path("schema.json")}).status, ZELToolExitSuccess);
}

TEST_F(ZELToolTest, CommandsOnFoldersThatAreNoDatabase) {
    fs::create_directory(path("plain"));
    EXPECT_EQ(zelErr({"add", path("plain"), write("items.jsonl", "{}\n")}),
              "zel: " + path("plain") + ": not a database folder (it has no ZELDatabaseInfo.plist)\n");
    EXPECT_TRUE(fs::is_empty(path("plain")));
    EXPECT_EQ(zel({"dump", path("missing")}).status, ZELToolExitFailure);
    EXPECT_EQ(zel({"stats", path("missing")}).status, ZELToolExitFailure);

    // A damaged meta info is named with its file.
    const std::string db = createDatabase();
    write("db/ZELDatabaseInfo.plist", "garbage");
    isDamagedOnPurpose_ = true;
    const ToolRun damaged = zel({"dump", db});
    EXPECT_EQ(damaged.status, ZELToolExitFailure);
    EXPECT_EQ(damaged.err.rfind("zel: " + db + "/ZELDatabaseInfo.plist: ", 0), 0u) << damaged.err;
}

// zel check on a clean folder, on a damaged one, with --repair, with --disk, and with wrong
// arguments.
TEST_F(ZELToolTest, CheckReportsProblemsAndRepairsDerivedFiles) {
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
    const std::filesystem::path sortFile = folder_ / "db" / "aspects" / "title.sort";
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
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_ / "db")) {
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

TEST(ZELJSON, ValuesRoundTrip) {
    const ZELValue value(ZELValue::Dictionary{
        {u"text", ZELValue(u"Grüße")},
        {u"int", ZELValue(int64_t{-9007199254740993})},
        {u"real", ZELValue(0.25)},
        {u"flag", ZELValue(true)},
        {u"none", ZELValue()},
        {u"date", ZELValue(ZELDate{1.5})},
        {u"data", ZELValue(ZELValue::Data{0, 1, 254})},
        {u"list", ZELValue(ZELValue::Array{ZELValue(1), ZELValue(u"x")})},
    });
    const nlohmann::json json = ZELJSON_JSONFromValue(value);
    EXPECT_EQ(json.dump(),
              "{\"data\":{\"$data\":\"AAH+\"},\"date\":{\"$date\":\"1970-01-01T00:00:01.5Z\"},\"flag\":true,"
              "\"int\":-9007199254740993,\"list\":[1,\"x\"],\"none\":null,\"real\":0.25,\"text\":\"Grüße\"}");
    std::string problem;
    EXPECT_EQ(ZELJSON_ValueFromJSON(json, &problem), value) << problem;
    EXPECT_EQ(ZELJSON_ValueFromJSON(nlohmann::json::parse("18446744073709551615"), &problem),
              ZELValue(18446744073709551615.0));
}

TEST(ZELJSON, NestingBeyondTheLimitIsRefused) {
    std::string text(ZELJSON_MaximumNestingDepth + 1, '[');
    text += std::string(ZELJSON_MaximumNestingDepth + 1, ']');
    std::string problem;
    EXPECT_FALSE(ZELJSON_ValueFromJSON(nlohmann::json::parse(text), &problem));
    EXPECT_EQ(problem, "values nest deeper than 64 levels");
    EXPECT_TRUE(ZELJSON_ValueFromJSON(nlohmann::json::parse(text.substr(1, text.size() - 2)), &problem));
}

TEST(ZELJSON, ISO8601Dates) {
    EXPECT_EQ(ZELJSON_DateFromISO8601("1970-01-01"), ZELDate{0});
    EXPECT_EQ(ZELJSON_DateFromISO8601("2000-02-29T12:30:15Z"), ZELDate{951827415});
    EXPECT_EQ(ZELJSON_DateFromISO8601("2000-02-29 14:30:15.25+02:00"), ZELDate{951827415.25});
    EXPECT_EQ(ZELJSON_DateFromISO8601("1969-12-31T23:00-0100"), ZELDate{0});
    EXPECT_EQ(ZELJSON_DateFromISO8601("0000-01-01T00:00:00Z"), ZELDate{-62167219200});
    for (const char* bad : {"", "2001-02-29", "2000-01-01T24:00", "2000-1-01", "2000-01-01T10:00:00.Z",
                            "2000-01-01T10:00+25:00", "2000-01-01 junk"}) {
        EXPECT_EQ(ZELJSON_DateFromISO8601(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(ZELJSON_ISO8601FromDate(ZELDate{951827415.25}), "2000-02-29T12:30:15.25Z");
    EXPECT_EQ(ZELJSON_ISO8601FromDate(ZELDate{-1}), "1969-12-31T23:59:59Z");
    // Dates without a four-digit year keep their seconds, in text and in JSON.
    EXPECT_EQ(ZELJSON_JSONFromValue(ZELValue(ZELDate{1e12})).dump(), "{\"$date\":1000000000000.0}");
    std::string problem;
    EXPECT_EQ(ZELJSON_ValueFromJSON(ZELJSON_JSONFromValue(ZELValue(ZELDate{-1e12})), &problem), ZELValue(ZELDate{-1e12}));
}
