// zel tokenize TOKENIZER-CLASS TEXT [--user-input] [--options JSON]
#include <algorithm>
#include <ostream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "ZELTool.h"
#include "zel/platform/ZELError.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELTokenizer.h"

int ZELToolTokenize(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::vector<std::string> positional;
    bool userInput = false;
    std::string optionsText;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--user-input") {
            userInput = true;
        } else if (argument == "--options") {
            if (i + 1 == arguments.size()) return ZELToolUsageError(output, "--options needs a JSON object");
            optionsText = arguments[++i];
        } else if (argument.size() > 2 && argument.rfind("--", 0) == 0) {
            return ZELToolUsageError(output, "tokenize: unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) return ZELToolUsageError(output, "tokenize needs TOKENIZER-CLASS and TEXT");

    ZELValue::Dictionary representation;
    if (!optionsText.empty()) {
        nlohmann::json options;
        try {
            options = nlohmann::json::parse(optionsText);
        } catch (const nlohmann::json::parse_error& error) {
            return ZELToolFail(output, "--options: not valid JSON: " + ZELJSON_ParseErrorText(error));
        }
        std::string problem;
        std::optional<ZELValue> value = ZELJSON_ValueFromJSON(options, &problem);
        if (!value || !value->isDictionary()) {
            return ZELToolFail(output, "--options: must be a JSON object" + (problem.empty() ? "" : ": " + problem));
        }
        representation = value->dictionaryValue();
    }
    representation.insert_or_assign(u"TokenizerClass", ZELValue::fromUTF8(positional[0]));
    ZELError error;
    std::shared_ptr<ZELTokenizer> tokenizer =
        ZELTokenizer::tokenizerForSerializedRepresentation(ZELValue(std::move(representation)), &error);
    if (!tokenizer) return ZELToolFail(output, "unknown tokenizer class \"" + positional[0] + "\"");

    const ZELString text = ZELStringFromUTF8(positional[1]);
    std::vector<ZELString> tokens;
    if (userInput) {
        tokens = tokenizer->tokensForUserInput(text);
    } else if (std::optional<ZELTokenSet> found = tokenizer->tokensForValue(ZELValue(text))) {
        tokens.assign(found->begin(), found->end());
        // The order of an aspect's sorted list, so that the output does not depend on hashing.
        std::sort(tokens.begin(), tokens.end(), [](const ZELString& a, const ZELString& b) {
            const int order = compareZELSort(ZELNormalizedCaseInsensitiveComparisonString(a),
                                             ZELNormalizedCaseInsensitiveComparisonString(b));
            return order != 0 ? order < 0 : a < b;
        });
    }
    for (const ZELString& token : tokens) {
        output.out << ZELStringToUTF8(token) << '\t' << ZELStringToUTF8(ZELNormalizedCaseInsensitiveComparisonString(token))
                   << '\n';
    }
    output.out.flush();
    return ZELToolExitSuccess;
}
