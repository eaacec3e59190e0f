// The query, complete, search and saved commands on a small database of three records.

#include "ZELToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

using ToolRun = ZELToolRun;

const char* kSchema = R"({
  "identifier": "org.example.mail",
  "aspects": [
    {"identifier": "subject", "tokenizer": "ZELWordTokenizer"},
    {"identifier": "from", "tokenizer": "ZELIdentityValueTokenizer", "searchPrefixes": ["sender", "who"]},
    {"identifier": "tag", "tokenizer": "ZELWordTokenizer", "defaultBooleanOp": "OR", "searchPrefixes": ["who"]}
  ]
}
)";

const char* kItems =
    "{\"subject\": \"Garden report\", \"from\": \"ann\", \"tag\": \"home\"}\n"
    "{\"subject\": \"Report on the budget\", \"from\": \"bob\", \"tag\": \"work\"}\n"
    "{\"subject\": \"Garden party\", \"from\": \"bob\", \"tag\": \"home work\"}\n"
    "{\"subject\": \"Garlic and beans\", \"from\": \"cy\", \"tag\": \"ann\"}\n";

// A query property list whose "query" is `node` (XML text).
std::string queryPlist(const std::string& node) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "<key>version</key><real>1.0</real>\n<key>query</key>" +
           node + "\n</dict>\n</plist>\n";
}

std::string operation(const std::string& name, const std::vector<std::string>& operands) {
    std::string text = "<dict><key>operator</key><string>" + name + "</string><key>operands</key><array>";
    for (const std::string& operand : operands) text += operand;
    return text + "</array></dict>";
}

std::string term(const std::string& text) { return "<string>" + text + "</string>"; }

class ZELToolQueryTest : public ZELToolScratchTest {
protected:
    void SetUp() override {
        ZELToolScratchTest::SetUp();
        const ToolRun created = zel({"create", path("db"), "--schema", write("schema.json", kSchema)});
        ASSERT_EQ(created.status, ZELToolExitSuccess) << created.err;
        const ToolRun added = zel({"add", path("db"), write("items.jsonl", kItems)});
        ASSERT_EQ(added.status, ZELToolExitSuccess) << added.err;
        db_ = path("db");
    }

    std::string db_;
};

}  // namespace

TEST_F(ZELToolQueryTest, QueryPrintsMatchingItemIDsItemsAndDescription) {
    // subject "garden" and not from "ann": item 3 only.
    const std::string file = write(
        "q.plist", queryPlist(operation("AND", {term("subject: garden"), operation("NOT", {term("from: ann")})})));

    const ToolRun ids = zel({"query", db_, file});
    ASSERT_EQ(ids.status, ZELToolExitSuccess) << ids.err;
    EXPECT_EQ(ids.out, "3\n");
    EXPECT_EQ(ids.err, "");
    EXPECT_EQ(zelOut({"query", db_, file, "--items"}),
              "item 3 {\"from\":\"bob\",\"subject\":\"Garden party\",\"tag\":\"home work\"}\n");
    EXPECT_EQ(zelOut({"query", db_, file, "--describe"}), "((NOT ann)) AND (Garden)\n");

    // An OR of terms in two aspects, in item ID order; a lone term string is a query too.
    const std::string either = write("or.plist", queryPlist(operation("OR", {term("tag: work"), term("from: ann")})));
    EXPECT_EQ(zel({"query", db_, either}).out, "1\n2\n3\n");
    EXPECT_EQ(zel({"query", db_, write("one.plist", queryPlist(term("from: bob")))}).out, "2\n3\n");
    // The empty query finds nothing.
    const ToolRun empty = zel({"query", db_, write("empty.plist", queryPlist("<dict/>"))});
    EXPECT_EQ(empty.status, ZELToolExitSuccess) << empty.err;
    EXPECT_EQ(empty.out, "");
}

TEST_F(ZELToolQueryTest, QueryRefusesBadFilesAndArguments) {
    const struct {
        std::string name;
        std::string text;  // none: the file is missing
        std::string error;
    } cases[] = {
        {"missing.plist", "", "cannot open"},
        {"garbage.plist", "not a property list at all", "malformed XML"},
        {"aspect.plist", queryPlist(term("colour: red")),
         ": The aspect \"colour\" is unknown, and cannot be used for search criteria."},
        {"term.plist", queryPlist(operation("AND", {term("subject: garden"), term("from: zed")})),
         ": The selector \"zed\" does not occur for the \"from\" aspect, and cannot be used as a search condition."},
        {"operator.plist", queryPlist(operation("XOR", {term("from: bob")})),
         ": ZELQuery serialization has unknown operator \"XOR\"."},
    };
    for (const auto& c : cases) {
        const std::string file = c.text.empty() ? path(c.name) : write(c.name, c.text);
        for (const char* option : {"--items", "--describe"}) {
            const ToolRun run = zel({"query", db_, file, option});
            EXPECT_EQ(run.status, ZELToolExitFailure) << c.name;
            EXPECT_EQ(run.out, "") << c.name;
            EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
            EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
    const std::string good = write("good.plist", queryPlist(term("from: bob")));
    EXPECT_EQ(zel({"query", db_}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"query", db_, good, "--colour"}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"query", db_, good, "--items", "--describe"}).status, ZELToolExitUsage);
    EXPECT_EQ(zel({"query", path("nodb"), good}).status, ZELToolExitFailure);
}

TEST_F(ZELToolQueryTest, CompleteListsPrefixCompletionsAndWhetherMoreExist) {
    EXPECT_EQ(zelOut({"complete", db_, "ga"}), "\"Garden\"\n\"Garlic\"\n2 completions\n");
    EXPECT_EQ(zelOut({"complete", db_, "ga", "--limit", "1"}), "\"Garden\"\n1 completion, more exist\n");
    EXPECT_EQ(zelOut({"complete", db_, "a", "--aspect", "from"}), "\"ann\"\n1 completion\n");
    EXPECT_EQ(zelOut({"complete", db_, "", "--aspect", "from", "--within",
                      write("bob.plist", queryPlist(term("tag: work")))}),
              "\"bob\"\n1 completion\n");

    EXPECT_EQ(zel({"complete", db_, "ga", "--aspect", "colour"}).status, ZELToolExitFailure);
    EXPECT_EQ(zel({"complete", db_, "ga", "--limit", "-1"}).status, ZELToolExitUsage);
}

TEST_F(ZELToolQueryTest, SearchWordsNegationsAndAspectPrefixes) {
    EXPECT_EQ(zelOut({"search", db_, "garden"}), "query: garden\n2 items\n"
              "item 1 {\"from\":\"ann\",\"subject\":\"Garden report\",\"tag\":\"home\"}\n"
              "item 3 {\"from\":\"bob\",\"subject\":\"Garden party\",\"tag\":\"home work\"}\n");

    EXPECT_EQ(zelOut({"search", db_, "garden", "!ann"}), "query: garden AND (NOT ann)\n1 item\n"
              "item 3 {\"from\":\"bob\",\"subject\":\"Garden party\",\"tag\":\"home work\"}\n");

    // "ann" is a sender and a tag; "from:ann" looks only at senders.
    EXPECT_NE(zel({"search", db_, "ann"}).out.find("2 items\n"), std::string::npos);
    const ToolRun narrowed = zel({"search", db_, "from:ann"});
    ASSERT_EQ(narrowed.status, ZELToolExitSuccess) << narrowed.err;
    EXPECT_EQ(narrowed.out, "query: ann\n1 item\n"
              "item 1 {\"from\":\"ann\",\"subject\":\"Garden report\",\"tag\":\"home\"}\n");

    // The schema's prefixes: "sender" names the senders, "who" senders and tags together.
    EXPECT_EQ(zel({"search", db_, "sender:ann"}).out, narrowed.out);
    EXPECT_NE(zel({"search", db_, "who:ann"}).out.find("2 items\n"), std::string::npos);
    // An unknown prefix is part of the word.
    EXPECT_NE(zel({"search", db_, "nobody:ann"}).out.find("0 items\n"), std::string::npos);
}

TEST_F(ZELToolQueryTest, SavedSearchesAreListedAndRun) {
    fs::create_directory(path("saved"));
    const ToolRun search = zel({"search", db_, "garden", "!ann", "--save", path("saved/Gardens.query")});
    ASSERT_EQ(search.status, ZELToolExitSuccess) << search.err;

    EXPECT_EQ(zelOut({"saved", path("saved")}), "Gardens\n");
    EXPECT_EQ(zelOut({"saved", path("saved"), "--db", db_}), "Gardens: garden AND (NOT ann)\n");
    // Running the saved search answers what the search itself did.
    EXPECT_EQ(zelOut({"saved", path("saved"), "--db", db_, "--run", "Gardens"}), search.out);

    EXPECT_EQ(zelErr({"saved", path("saved"), "--db", db_, "--run", "Nope"}),
              "zel: no saved search \"Nope\" in " + path("saved") + "\n");
    EXPECT_EQ(zel({"saved", path("saved"), "--run", "Gardens"}).status, ZELToolExitUsage);
}
