#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// The commands of the zel tool. Each takes the arguments that follow its name, writes its
// results to `out` and its messages (one line per error, progress) to `err`, and answers the
// process's exit status. Used by main.cpp and by the tool's tests; one command at a time.

// Exit statuses.
inline constexpr int ZELToolExitSuccess = 0;
// Bad input, a database that cannot be opened or saved: the message says which file and line.
inline constexpr int ZELToolExitFailure = 1;
// Wrong arguments; the usage follows the message.
inline constexpr int ZELToolExitUsage = 2;

// Where a command writes.
struct ZELToolOutput {
    std::ostream& out;
    std::ostream& err;
};

// Dispatches `arguments` (without the program name) to a command; "--help", "help" and no
// arguments print the usage.
int ZELToolMain(const std::vector<std::string>& arguments, ZELToolOutput output);

int ZELToolCreate(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolAdd(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolDump(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolStats(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolCheck(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolTokenize(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolComplete(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolSearch(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolSaved(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolQuery(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolImportChangelogs(const std::vector<std::string>& arguments, ZELToolOutput output);
int ZELToolDemo(const std::vector<std::string>& arguments, ZELToolOutput output);

class ZELDatabase;
class ZELUserQuery;
struct ZELToolOpenDatabase;
// The search `zel search` makes of its words (see docs/TOOL.md, "Searching"); null with a
// message for an empty word. Used by search and demo.
std::shared_ptr<ZELUserQuery> ZELToolUserQueryFromWords(ZELToolOpenDatabase& opened,
                                                        const std::vector<std::string>& words,
                                                        std::string* outMessage);
// Prints "query: <the user query's text form>", the number of items it finds in `database`
// and each item ("item ID <record as JSON>"), in item ID order. Used by search and saved.
void ZELToolPrintUserQueryResults(ZELDatabase& database, const ZELUserQuery& userQuery,
                                  ZELToolOutput output);

// The breakdown of a closed database folder's bytes per store (ZELDatabaseChecker::diskUsage)
// as a Markdown table in MB (10^6 bytes). Used by check and by the peer benchmark.
std::string ZELToolDiskUsageTable(const std::string& folder);

// The text of "zel --help".
std::string ZELToolUsage();

// Writes "zel: <message>" as one line to `err` (newlines inside become spaces) and answers
// ZELToolExitFailure.
int ZELToolFail(ZELToolOutput output, const std::string& message);
// Writes "zel: <message>" and a hint to run "zel --help"; answers ZELToolExitUsage.
int ZELToolUsageError(ZELToolOutput output, const std::string& message);
