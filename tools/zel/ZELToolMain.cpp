#include <algorithm>
#include <ostream>

#include "ZELTool.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/tokenizer/ZELTokenizer.h"

namespace {

// "Tokenizer classes: ..." wrapped to 80 columns, from the registry, so that it lists what this
// build really has.
std::string tokenizerClassList() {
    ZELTokenizer::tokenizerClassNamed("");  // registers the library's own classes
    std::string text = "\nTokenizer classes:";
    size_t column = text.size() - 1;
    for (const std::string& name : ZELRegistry<ZELTokenizerClass>::shared().names()) {
        if (column + name.size() + 1 > 80) {
            text += "\n ";
            column = 1;
        }
        text += " " + name;
        column += name.size() + 1;
    }
    return text + "\n";
}

}  // namespace

std::string ZELToolUsage() {
    return R"(usage: zel COMMAND ARGUMENTS

Commands:
  zel create DIR --schema SCHEMA.json
      Creates a database in DIR (a new or empty folder) with the identifier, client version
      and aspects that the schema names.
  zel add DIR ITEMS.jsonl
      Adds the records of ITEMS.jsonl (one JSON object per line; blank lines are skipped;
      "-" reads standard input) and saves. Every line is read and checked before the first
      record is added. Records that duplicate stored ones (see "detectsDuplicates" and
      "existenceKey") update them instead. Progress goes to standard error.
  zel dump DIR
      Prints each aspect's terms (ID, canonical string, normalized value, use count), then
      each item with its record and its terms per aspect.
  zel stats DIR
      Prints the database's counts and its detailed memory description.
  zel check DIR [--repair] [--disk]
      Checks every file of a database that no process has open: one line per problem,
      then a summary line; exit status 0 when the folder is clean, 1 otherwise. With
      --repair, first rebuilds what can be derived (free space tables, sort files). With
      --disk, then prints where the folder's bytes go, store by store.
  zel tokenize TOKENIZER-CLASS TEXT [--user-input] [--options JSON]
      Prints the tokens a tokenizer makes of TEXT, one per line: the token, a tab and its
      normalized form, in sorted-list order. With --user-input: the tokens of typed search
      text, in the order a search uses them. --options adds keys to the tokenizer's
      representation. Needs no database.
  zel complete DIR PREFIX [--aspect ID]... [--limit N] [--within QUERY.plist]
      Prints the completions of PREFIX, one per line as a JSON string, from the terms of
      the named aspects (default: every aspect), sorted, without duplicates, a term folded
      into a longer one that finds the same items; then their number and whether more
      exist. --limit answers at most N (0: all); --within offers only terms of the items
      that the query in the property list QUERY.plist finds.
  zel search DIR WORDS... [--save FILE.query]
      Searches as the search field does: every word is one token, searched in every aspect;
      "!word" excludes, "ASPECT:word" (an aspect identifier as prefix) searches only that
      aspect. Prints the search's text form, the number of items found and each item.
      --save also writes the search as a saved-search file, titled by the file name.
  zel saved FOLDER [--db DIR [--run TITLE]]
      Lists the saved searches (files ending in ".query") in FOLDER, subfolders indented
      below their name; with --db, each with its text form in that database. --run runs
      the one titled TITLE ("Sub/TITLE" inside a subfolder) and prints as search does.
  zel query DIR QUERY.plist [--items | --describe]
      Runs the query in the property list QUERY.plist and prints the IDs of the items it
      finds, one per line, in item ID order; with --items, each item with its record as
      dump shows it. --describe prints the query as a user reads it instead.
  zel import-changelogs DIR [FILES...]
      Makes (or opens) the changelog database in DIR and adds the entries of the Debian
      changelogs FILES (plain or gzip; default /usr/share/doc/*/changelog.Debian.gz), one
      record per entry; entries that repeat a stored package and version are merged. Prints
      the entries read and skipped, the items stored, the repeats merged and the time.
  zel demo [--records FILE.jsonl --schema SCHEMA.json] [--searches FOLDER] [--db DIR]
      Indexes this machine's changelogs (or the records FILE.jsonl with the schema) in a
      scratch database (or DIR), then prints searches, completions and the saved searches
      of FOLDER with their timings.
  zel --help
      Prints this text.

Schema (SCHEMA.json):
  {
    "identifier": "org.example.notes",   database identifier (required)
    "clientVersion": 1,                  client schema version (default 1)
    "existenceKey": "path",              record key whose value identifies a record's source:
                                         it gives the existence token, and records with equal
                                         values under it are duplicates (optional)
    "duplicateKeys": ["package", "version"]
                                         record keys whose equal values make records duplicates
                                         instead (optional)
    "dateKeys": ["modified"],            record keys whose ISO 8601 texts or numbers (seconds
                                         since 1970) are read as dates (optional)
    "aspects": [                         the aspects, in order (at least one)
      { "identifier": "title",           aspect identifier (required, unique)
        "tokenizer": "ZELWordTokenizer", tokenizer class (required)
        "key": "title",                  record key the tokenizer reads (default: identifier)
        "options": {},                   extra keys of the tokenizer's representation
        "detectsDuplicates": false,      the aspect's terms find duplicate records
        "showsLabel": false,             show the aspect's label beside its values
        "defaultBooleanOp": "AND" }      "AND", "OR" or "NOT"
    ]
  }

Records (ITEMS.jsonl): JSON objects. A date is {"$date": "2024-03-01T12:00:00Z"} (or a number
of seconds), bytes are {"$data": "<base64>"}; other values map to themselves.

Exit status: 0 on success, 1 when an input or the database is bad (one line on standard
error names the file and line; the database is left as it was), 2 for wrong arguments.
)" + tokenizerClassList();
}

namespace {

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

}  // namespace

int ZELToolFail(ZELToolOutput output, const std::string& message) {
    output.err << "zel: " << oneLine(message) << std::endl;
    return ZELToolExitFailure;
}

int ZELToolUsageError(ZELToolOutput output, const std::string& message) {
    output.err << "zel: " << oneLine(message) << "\n(run \"zel --help\" for the usage)" << std::endl;
    return ZELToolExitUsage;
}

int ZELToolMain(const std::vector<std::string>& arguments, ZELToolOutput output) {
    if (arguments.empty()) {
        output.err << ZELToolUsage();
        return ZELToolExitUsage;
    }
    const std::string& command = arguments.front();
    if (command == "--help" || command == "-h" || command == "help") {
        output.out << ZELToolUsage();
        return ZELToolExitSuccess;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
        output.out << ZELToolUsage();
        return ZELToolExitSuccess;
    }
    if (command == "create") return ZELToolCreate(rest, output);
    if (command == "add") return ZELToolAdd(rest, output);
    if (command == "dump") return ZELToolDump(rest, output);
    if (command == "stats") return ZELToolStats(rest, output);
    if (command == "check") return ZELToolCheck(rest, output);
    if (command == "tokenize") return ZELToolTokenize(rest, output);
    if (command == "complete") return ZELToolComplete(rest, output);
    if (command == "search") return ZELToolSearch(rest, output);
    if (command == "saved") return ZELToolSaved(rest, output);
    if (command == "query") return ZELToolQuery(rest, output);
    if (command == "import-changelogs") return ZELToolImportChangelogs(rest, output);
    if (command == "demo") return ZELToolDemo(rest, output);
    return ZELToolUsageError(output, "unknown command \"" + command + "\"");
}
