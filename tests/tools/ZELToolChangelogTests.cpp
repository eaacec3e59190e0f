// zel import-changelogs and zel demo on small literal inputs, the schema's duplicate keys and
// detected-text aspects they rest on, and the changelog files plain, gzip-compressed and damaged.
#include <zlib.h>

#include <regex>

#include "ZELChangelogReader.h"
#include "ZELToolTestSupport.h"
#include "support/ZELTestFileBytes.h"

namespace fs = std::filesystem;

namespace {

// The output with every timing ("512 µs", "3.25 ms", "1.20 s") replaced by "T".
std::string withoutTimings(const std::string& text) {
    static const std::regex timing("[0-9]+(\\.[0-9]+)? (\xC2\xB5s|ms|s)\\b");
    return std::regex_replace(text, timing, "T");
}

// One source package's changelog, as two of its binary packages ship it.
const char* const kFooChangelog =
    "foo (1.1) unstable; urgency=medium\n"
    "\n"
    "  * Fix a crash, see https://bugs.example.org/42.\n"
    "\n"
    " -- Jane Doe <jane@example.org>  Sat, 03 Jun 2023 10:11:12 +0200\n"
    "\n"
    "foo (1.0) unstable; urgency=low\n"
    "\n"
    "  * Initial release.\n"
    "\n"
    " -- Jane Doe <jane@example.org>  Mon, 02 Jan 2023 09:00:00 +0000\n";

const char* const kBarChangelog =
    "bar (2.0) bookworm-security; urgency=high\n"
    "\n"
    "  * Security fix for CVE-2024-0001.\n"
    "\n"
    " -- Ann Example <ann@example.org>  Tue, 02 Jan 2024 12:00:00 +0000\n";

class ZELToolChangelogTest : public ZELToolScratchTest {
protected:
    // Writes `chunks` as consecutive gzip members (one member for one chunk), the way Debian
    // packages ship changelogs; answers the file's path.
    std::string writeGzip(const std::string& name, const std::vector<std::string>& chunks) {
        std::string bytes;
        for (const std::string& chunk : chunks) {
            z_stream stream{};
            EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
            std::string member(deflateBound(&stream, chunk.size()), '\0');
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
            stream.avail_in = static_cast<uInt>(chunk.size());
            stream.next_out = reinterpret_cast<Bytef*>(member.data());
            stream.avail_out = static_cast<uInt>(member.size());
            EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
            member.resize(stream.total_out);
            deflateEnd(&stream);
            bytes += member;
        }
        fs::create_directories(fs::path(path(name)).parent_path());
        return write(name, bytes);
    }

    // Two binary packages of foo (one compressed, one plain) and bar.
    std::vector<std::string> writeChangelogs() {
        fs::create_directories(path("doc/libfoo-dev"));
        return {writeGzip("doc/libfoo1/changelog.Debian.gz", {kFooChangelog}),
                write("doc/libfoo-dev/changelog.Debian", kFooChangelog),
                writeGzip("doc/bar/changelog.Debian.gz", {kBarChangelog})};
    }
};

}  // namespace

TEST_F(ZELToolChangelogTest, ImportMergesTheEntriesThatBinaryPackagesRepeat) {
    const std::vector<std::string> files = writeChangelogs();
    const std::string db = path("db");
    std::vector<std::string> arguments{"import-changelogs", db};
    arguments.insert(arguments.end(), files.begin(), files.end());

    const ZELToolRun first = zel(arguments);

    ASSERT_EQ(first.status, ZELToolExitSuccess) << first.err;
    EXPECT_EQ(withoutTimings(first.out),
              "read 3 files: 5 entries, 0 malformed skipped, 0 without a date\n"
              "stored 3 items, merged 2 repeats; 3 items in " + db + "\n"
              "time T\n");
    EXPECT_EQ(first.err, "");

    // Prefixes of the schema and aspect identifiers narrow the search; the links of the body
    // are searchable by host.
    const ZELToolRun foo = zel({"search", db, "package:foo"});
    EXPECT_NE(foo.out.find("2 items\n"), std::string::npos) << foo.out;
    const ZELToolRun source = zel({"search", db, "source:bar"});
    EXPECT_NE(source.out.find("1 item\nitem 3 "), std::string::npos) << source.out;
    const ZELToolRun link = zel({"search", db, "link:bugs.example.org"});
    EXPECT_NE(link.out.find("1 item\nitem 1 {\"authorEmail\":\"jane@example.org\""), std::string::npos) << link.out;
    const ZELToolRun year = zel({"search", db, "year:2024", "dist:bookworm-security"});
    EXPECT_NE(year.out.find("1 item\nitem 3 "), std::string::npos) << year.out;

    // Importing again stores nothing new.
    const ZELToolRun again = zel(arguments);
    ASSERT_EQ(again.status, ZELToolExitSuccess) << again.err;
    EXPECT_NE(again.out.find("stored 0 items, merged 5 repeats; 3 items in " + db + "\n"), std::string::npos) << again.out;
}

TEST_F(ZELToolChangelogTest, UnreadableFilesAreToldAndLeftOut) {
    const std::vector<std::string> files = writeChangelogs();
    const std::string bytes = ZELTestReadFile<std::string>(files[0]);
    const std::string cut = write("cut.gz", bytes.substr(0, bytes.size() / 2));

    const ZELToolRun run = zel({"import-changelogs", path("db"), cut, path("missing"), files[2]});

    ASSERT_EQ(run.status, ZELToolExitSuccess) << run.err;
    EXPECT_EQ(run.err, "zel: " + cut + ": the compressed data ends early\nzel: " + path("missing") +
                           ": cannot read the file\n");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "read 1 file (2 unreadable): 1 entry, 0 malformed skipped, 0 without a date");
}

TEST_F(ZELToolChangelogTest, TheExampleSchemaMakesTheSameDatabase) {
    const std::vector<std::string> files = writeChangelogs();
    const std::string schema = std::string(ZEL_SOURCE_DIR) + "/examples/changelogs/schema.json";
    EXPECT_EQ(zelOut({"create", path("created"), "--schema", schema}),
              "created database \"org.example.changelogs\" in " + path("created") + " with 12 aspects\n");

    for (const char* folder : {"created", "imported"}) zelOut({"import-changelogs", path(folder), files[0], files[2]});

    const std::string fromCreated = zelOut({"dump", path("created")});
    EXPECT_EQ(fromCreated, zelOut({"dump", path("imported")}));
    EXPECT_NE(fromCreated.find("aspect 12 \"link\" (ZELDetectedTextLinkTokenizer, key \"detectedText:body\"): "),
              std::string::npos)
        << fromCreated;
}

TEST_F(ZELToolChangelogTest, ImportRefusesOtherFoldersAndArguments) {
    const std::string other = write("other.json", R"({"identifier": "org.example.other",
        "aspects": [{"identifier": "title", "tokenizer": "ZELWordTokenizer"}]})");
    ASSERT_EQ(zel({"create", path("other"), "--schema", other}).status, ZELToolExitSuccess);
    const std::string changelog = write("changelog", kBarChangelog);

    EXPECT_EQ(zelErr({"import-changelogs", path("other"), changelog}),
              "zel: " + path("other") + ": the folder belongs to the database \"org.example.other\", not \"org.example.changelogs\"\n");
    fs::create_directory(path("full"));
    write("full/notes.txt", "x");
    EXPECT_EQ(zel({"import-changelogs", path("full"), changelog}).status, ZELToolExitFailure);
    EXPECT_EQ(zel({"import-changelogs"}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"import-changelogs", path("db"), "--fast"}).status, ZELToolExitUsage);
}

TEST_F(ZELToolChangelogTest, DuplicateKeysMergeRecordsWithEqualValues) {
    const std::string schema = write("schema.json", R"({
      "identifier": "org.example.entries",
      "duplicateKeys": ["package", "version"],
      "aspects": [
        {"identifier": "package", "tokenizer": "ZELIdentityValueTokenizer", "detectsDuplicates": true},
        {"identifier": "version", "tokenizer": "ZELIdentityValueTokenizer", "detectsDuplicates": true},
        {"identifier": "body", "tokenizer": "ZELWordTokenizer"}
      ]
    })");
    ASSERT_EQ(zel({"create", path("db"), "--schema", schema}).status, ZELToolExitSuccess);

    // The keys are kept with the database, so a later `zel add` applies them as well.
    const ZELToolRun first = zel({"add", path("db"), write("a.jsonl", R"({"package": "a", "version": "1", "body": "old"}
{"package": "a", "version": "2", "body": "other"}
)")});
    ASSERT_EQ(first.status, ZELToolExitSuccess) << first.err;
    const ZELToolRun second = zel({"add", path("db"), write("b.jsonl", R"({"package": "a", "version": "1", "body": "new"}
)")});
    ASSERT_EQ(second.status, ZELToolExitSuccess) << second.err;
    EXPECT_EQ(second.out, "added 0 records, matched 1 duplicate; 2 items in " + path("db") + "\n");
    const ZELToolRun dump = zel({"dump", path("db")});
    EXPECT_NE(dump.out.find("item 1 {\"body\":\"new\",\"package\":\"a\",\"version\":\"1\"}"), std::string::npos) << dump.out;

    const ZELToolRun bad = zel({"create", path("bad"), "--schema", write("bad.json", R"({"identifier": "x",
 "duplicateKeys": ["package", ""],
 "aspects": [{"identifier": "t", "tokenizer": "ZELWordTokenizer"}]})")});
    EXPECT_EQ(bad.status, ZELToolExitFailure);
    EXPECT_EQ(bad.err, "zel: " + path("bad.json") + ":2: \"duplicateKeys\" must be a list of non-empty texts\n");
}

TEST_F(ZELToolChangelogTest, DemoOnRecordsPrintsEverySection) {
    const std::string schema = write("schema.json", R"({
      "identifier": "org.example.notes",
      "duplicateKeys": ["id"],
      "aspects": [
        {"identifier": "title", "tokenizer": "ZELWordTokenizer"},
        {"identifier": "tag", "tokenizer": "ZELIdentityValueTokenizer", "defaultBooleanOp": "OR"},
        {"identifier": "id", "tokenizer": "ZELIdentityValueTokenizer", "detectsDuplicates": true}
      ]
    })");
    const std::string records = write("records.jsonl", R"({"id": "1", "title": "Garden plans", "tag": "home"}
{"id": "2", "title": "Garden shed report", "tag": "work"}
{"id": "3", "title": "Report on the garlic", "tag": "home"}
{"id": "1", "title": "Garden plans for spring", "tag": "home"}
)");
    // Saved searches made as a user makes them.
    ASSERT_EQ(zel({"create", path("searchdb"), "--schema", schema}).status, ZELToolExitSuccess);
    ASSERT_EQ(zel({"add", path("searchdb"), records}).status, ZELToolExitSuccess);
    fs::create_directories(path("searches/Work"));
    ASSERT_EQ(zel({"search", path("searchdb"), "garden", "--save", path("searches/Gardens.query")}).status, ZELToolExitSuccess);
    ASSERT_EQ(zel({"search", path("searchdb"), "tag:work", "!garlic", "--save", path("searches/Work/Work only.query")}).status,
              ZELToolExitSuccess);

    const std::vector<std::string> arguments{"demo", "--records", records, "--schema", schema, "--searches", path("searches")};
    const ZELToolRun demo = zel(arguments);

    ASSERT_EQ(demo.status, ZELToolExitSuccess) << demo.err;
    // Each section in order, with the counts, queries and items that show it worked.
    const std::string out = withoutTimings(demo.out);
    const std::string garden1 = "{\"id\":\"1\",\"tag\":\"home\",\"title\":\"Garden plans for spring\"}\n";
    const std::string garden2 = "{\"id\":\"2\",\"tag\":\"work\",\"title\":\"Garden shed report\"}\n";
    size_t at = 0;
    for (const std::string& part : std::initializer_list<std::string>{
             "4 records read\n3 items stored, 1 duplicate merged\nindexed and saved in T; the database holds 3 items\n",
             "title: \"Garden\"\n  query: Garden\n  2 items in T\n    " + garden1 + "    " + garden2,
             "title: \"Report\"\n", "tag: \"home\"\n",
             "complete \"G\"\n  2 completions in T: \"Garden\", \"garlic\"\n",
             "complete \"G\" within the items of \"Garden\"\n  1 completion in T: \"Garden\"\n",
             "== Saved searches in " + path("searches") + "\n\nGardens\n  query: Garden\n  2 items in T\n",
             "Work/Work only\n  query: (work) AND ((NOT garlic))\n  1 item in T\n    " + garden2}) {
        at = out.find(part, at);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << part << "\nin:\n" << out;
    }

    // The same again: only the timings differ.
    EXPECT_EQ(withoutTimings(zel(arguments).out), withoutTimings(demo.out));
}

TEST_F(ZELToolChangelogTest, DemoKeepsADatabaseItIsGivenAndRefusesBadArguments) {
    const std::string schema = write("schema.json", R"({"identifier": "org.example.notes",
        "aspects": [{"identifier": "title", "tokenizer": "ZELWordTokenizer", "detectsDuplicates": true}]})");
    const std::string records = write("records.jsonl", "{\"title\": \"One\"}\n{\"title\": \"Two\"}\n");
    const std::vector<std::string> arguments{"demo", "--records", records, "--schema", schema, "--db", path("db")};

    ASSERT_EQ(zel(arguments).status, ZELToolExitSuccess);
    const ZELToolRun again = zel(arguments);
    ASSERT_EQ(again.status, ZELToolExitSuccess) << again.err;
    EXPECT_NE(again.out.find("0 items stored, 2 duplicates merged\n"), std::string::npos) << again.out;

    EXPECT_EQ(zel({"demo", "--records", records}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"demo", "--schema", schema}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"demo", "--db"}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"demo", "extra"}).status, ZELToolExitUsage);
    const ZELToolRun badRecords = zel({"demo", "--records", write("bad.jsonl", "{\n"), "--schema", schema});
    EXPECT_EQ(badRecords.status, ZELToolExitFailure);
    EXPECT_EQ(badRecords.err.rfind("zel: " + path("bad.jsonl") + ":1: not valid JSON", 0), 0u) << badRecords.err;
}

// ---- Reading changelog files ----

TEST_F(ZELToolChangelogTest, PlainAndGzipFilesReadTheSame) {
    const std::string text = kFooChangelog;
    const std::string plain = write("changelog.Debian", text);
    const std::string gzip = writeGzip("changelog.Debian.gz", {text});
    const std::string twoMembers = writeGzip("two.gz", {text.substr(0, 100), text.substr(100)});

    std::string message;
    const auto fromPlain = ZELReadChangelogFile(plain, nullptr, &message);
    ASSERT_TRUE(fromPlain) << message;
    EXPECT_EQ(fromPlain->size(), 2u);
    EXPECT_EQ(ZELReadChangelogFile(gzip, nullptr, &message), fromPlain) << message;
    EXPECT_EQ(ZELReadChangelogFile(twoMembers, nullptr, &message), fromPlain) << message;
    EXPECT_EQ(ZELReadChangelogText(gzip, &message), text);
    EXPECT_EQ(ZELReadChangelogText(write("empty", ""), &message), std::string());
}

TEST_F(ZELToolChangelogTest, DamagedFilesGiveAMessageNamingTheFile) {
    const std::string bytes = ZELTestReadFile<std::string>(writeGzip("changelog.Debian.gz", {kFooChangelog}));
    const struct {
        std::string name;
        std::string bytes;
        const char* problem;
    } cases[] = {
        {"cut.gz", bytes.substr(0, bytes.size() / 2), "the compressed data ends early"},
        {"no-trailer.gz", bytes.substr(0, bytes.size() - 4), "the compressed data ends early"},
        {"garbage.gz", "\x1f\x8bgarbage and more garbage", "damaged compressed data ("},
        {"bad-crc.gz", bytes.substr(0, bytes.size() - 8) + std::string(8, '\0'), "damaged compressed data ("},
        {"trailing.gz", bytes + "junk", "damaged compressed data ("},
    };
    for (const auto& c : cases) {
        const std::string file = write(c.name, c.bytes);
        std::string message;
        ZELChangelogReadStats stats;
        EXPECT_FALSE(ZELReadChangelogFile(file, &stats, &message)) << c.name;
        EXPECT_EQ(message.rfind(file + ": " + c.problem, 0), 0u) << message;
        EXPECT_EQ(stats.entries, 0u);
    }
    std::string message;
    EXPECT_FALSE(ZELReadChangelogText(path("missing"), &message));
    EXPECT_EQ(message, path("missing") + ": cannot read the file");
    EXPECT_FALSE(ZELReadChangelogText(folder_.string(), &message));
    EXPECT_EQ(message, folder_.string() + ": cannot read the file");
}

TEST_F(ZELToolChangelogTest, AGzipBombIsRefused) {
    const std::string bomb = writeGzip("bomb.gz", {std::string(ZELChangelogMaximumTextBytes + 1, 'a')});
    std::string message;
    EXPECT_FALSE(ZELReadChangelogText(bomb, &message));
    EXPECT_EQ(message, bomb + ": decompresses to more than the limit of 64 MiB");
}
