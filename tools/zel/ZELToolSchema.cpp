#include "ZELToolSchema.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "ZELJSON.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/tokenizer/ZELDetectedTextInfo.h"
#include "zel/tokenizer/ZELDetectedTextInfoTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"

namespace {

// A character iterator that counts the line feeds it has moved past, so that the JSON
// parser's callback knows the line of each value it reports. The parser reads its input
// front to back exactly once.
class LineCountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineCountingIterator(const char* position, size_t* lineFeeds) : position_(position), lineFeeds_(lineFeeds) {}
    reference operator*() const { return *position_; }
    LineCountingIterator& operator++() {
        if (*position_ == '\n') ++*lineFeeds_;
        ++position_;
        return *this;
    }
    LineCountingIterator operator++(int) {
        LineCountingIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const LineCountingIterator& a, const LineCountingIterator& b) {
        return a.position_ == b.position_;
    }

private:
    const char* position_;
    size_t* lineFeeds_;
};

// Lines of the schema's members, for messages.
struct SchemaLines {
    std::map<std::string, size_t> topLevel;               // top-level key -> line
    std::vector<size_t> aspects;                          // line of each aspect's "{"
    std::vector<std::map<std::string, size_t>> aspectKeys;  // per aspect: key -> line
};

const std::set<std::string> kTopLevelKeys = {"identifier", "clientVersion", "existenceKey", "duplicateKeys",
                                             "dateKeys",   "aspects"};
const std::set<std::string> kAspectKeys = {"identifier",        "tokenizer",  "key",
                                           "options",           "showsLabel", "defaultBooleanOp",
                                           "detectsDuplicates", "searchPrefixes"};

class SchemaReader {
public:
    SchemaReader(const std::string& sourceName, const SchemaLines& lines) : sourceName_(sourceName), lines_(lines) {}

    std::optional<ZELToolSchema> read(const nlohmann::json& root) {
        if (!root.is_object()) return fail(1, "the schema is not a JSON object");
        for (const auto& [key, value] : root.items()) {
            if (!kTopLevelKeys.count(key)) return fail(topLine(key), "unknown key \"" + key + "\"");
        }
        ZELToolSchema schema;
        if (!root.contains("identifier") || !root["identifier"].is_string() ||
            root["identifier"].get_ref<const std::string&>().empty()) {
            return fail(topLine("identifier"), "\"identifier\" must be a non-empty text");
        }
        schema.identifier = root["identifier"].get<std::string>();
        if (root.contains("clientVersion")) {
            if (!root["clientVersion"].is_number_integer()) {
                return fail(topLine("clientVersion"), "\"clientVersion\" must be an integer");
            }
            schema.clientVersion = root["clientVersion"].get<int64_t>();
        }
        if (root.contains("existenceKey")) {
            if (!root["existenceKey"].is_string() || root["existenceKey"].get_ref<const std::string&>().empty()) {
                return fail(topLine("existenceKey"), "\"existenceKey\" must be a non-empty text");
            }
            schema.existenceKey = ZELStringFromUTF8(root["existenceKey"].get<std::string>());
        }
        if (!readKeyList(root, "dateKeys", &schema.dateKeys) || !readKeyList(root, "duplicateKeys", &schema.duplicateKeys)) {
            return std::nullopt;
        }
        if (!root.contains("aspects") || !root["aspects"].is_array() || root["aspects"].empty()) {
            return fail(topLine("aspects"), "\"aspects\" must be a non-empty list of aspect objects");
        }
        std::set<ZELString> identifiers;
        size_t index = 0;
        for (const nlohmann::json& aspect : root["aspects"]) {
            std::optional<ZELToolAspectSchema> read = readAspect(aspect, index);
            if (!read) return std::nullopt;
            if (!identifiers.insert(read->identifier).second) {
                return fail(aspectLine(index, "identifier"),
                            "aspect \"" + ZELStringToUTF8(read->identifier) + "\" is defined twice");
            }
            schema.aspects.push_back(std::move(*read));
            ++index;
        }
        return schema;
    }

    const std::string& message() const { return message_; }

private:
    // The top-level list of record keys `name`, when present; false after a message.
    bool readKeyList(const nlohmann::json& root, const std::string& name, std::vector<ZELString>* outKeys) {
        if (!root.contains(name)) return true;
        const nlohmann::json& keys = root[name];
        const bool allTexts = keys.is_array() && std::all_of(keys.begin(), keys.end(), [](const auto& key) {
                                  return key.is_string() && !key.template get<std::string>().empty();
                              });
        if (!allTexts) {
            fail(topLine(name), "\"" + name + "\" must be a list of non-empty texts");
            return false;
        }
        for (const auto& key : keys) outKeys->push_back(ZELStringFromUTF8(key.template get<std::string>()));
        return true;
    }

    std::optional<ZELToolAspectSchema> readAspect(const nlohmann::json& aspect, size_t index) {
        const std::string where = "aspect " + std::to_string(index + 1);
        if (!aspect.is_object()) return fail(aspectLine(index, ""), where + " is not a JSON object");
        for (const auto& [key, value] : aspect.items()) {
            if (!kAspectKeys.count(key)) return fail(aspectLine(index, key), where + ": unknown key \"" + key + "\"");
        }
        ZELToolAspectSchema result;
        if (!aspect.contains("identifier") || !aspect["identifier"].is_string() ||
            aspect["identifier"].get_ref<const std::string&>().empty()) {
            return fail(aspectLine(index, "identifier"), where + ": \"identifier\" must be a non-empty text");
        }
        const std::string identifier = aspect["identifier"].get<std::string>();
        result.identifier = ZELStringFromUTF8(identifier);
        const std::string named = "aspect \"" + identifier + "\"";
        if (!aspect.contains("tokenizer") || !aspect["tokenizer"].is_string()) {
            return fail(aspectLine(index, "tokenizer"), named + ": \"tokenizer\" must name a tokenizer class");
        }
        result.tokenizerClass = aspect["tokenizer"].get<std::string>();
        std::string key = identifier;
        if (aspect.contains("key")) {
            if (!aspect["key"].is_string() || aspect["key"].get_ref<const std::string&>().empty()) {
                return fail(aspectLine(index, "key"), named + ": \"key\" must be a non-empty text");
            }
            key = aspect["key"].get<std::string>();
        }
        ZELValue::Dictionary representation;
        if (aspect.contains("options")) {
            std::string problem;
            std::optional<ZELValue> options = ZELJSON_ValueFromJSON(aspect["options"], &problem);
            if (!options || !options->isDictionary()) {
                return fail(aspectLine(index, "options"),
                            named + ": \"options\" must be a JSON object" + (problem.empty() ? "" : ": " + problem));
            }
            representation = options->dictionaryValue();
            for (const char16_t* reserved : {u"TokenizerClass", u"ClientObjectGetter", u"ClientObjectClass"}) {
                if (representation.count(reserved)) {
                    return fail(aspectLine(index, "options"), named + ": \"options\" may not set \"" +
                                                                  ZELStringToUTF8(reserved) + "\"");
                }
            }
        }
        representation.insert_or_assign(u"TokenizerClass", ZELValue::fromUTF8(result.tokenizerClass));
        representation.insert_or_assign(u"ClientObjectGetter", ZELValue::fromUTF8(key));
        ZELError error;
        std::shared_ptr<ZELTokenizer> tokenizer =
            ZELTokenizer::tokenizerForSerializedRepresentation(ZELValue(representation), &error);
        if (!tokenizer) {
            return fail(aspectLine(index, "tokenizer"), named + ": unknown tokenizer class \"" + result.tokenizerClass + "\"");
        }
        if (dynamic_cast<const ZELDetectedTextInfoTokenizer*>(tokenizer.get())) {
            const std::string getter = ZELToolDetectedTextGetterName(key);
            ZELToolRegisterDetectedTextGetter(getter);
            representation.insert_or_assign(u"ClientObjectGetter", ZELValue::fromUTF8(getter));
        }
        result.tokenizerRepresentation = ZELValue(std::move(representation));
        for (const char* flag : {"detectsDuplicates", "showsLabel"}) {
            if (!aspect.contains(flag)) continue;
            if (!aspect[flag].is_boolean()) return fail(aspectLine(index, flag), named + ": \"" + flag + "\" must be true or false");
            (std::string_view(flag) == "showsLabel" ? result.showsLabel : result.detectsDuplicates) = aspect[flag].get<bool>();
        }
        if (aspect.contains("defaultBooleanOp")) {
            const nlohmann::json& operation = aspect["defaultBooleanOp"];
            static const std::map<std::string, int32_t> kNames = {{"AND", 0}, {"OR", 1}, {"NOT", 2}};
            if (operation.is_string() && kNames.count(operation.get<std::string>())) {
                result.defaultBooleanOp = kNames.at(operation.get<std::string>());
            } else if (operation.is_number_integer() && operation.get<int64_t>() >= 0 && operation.get<int64_t>() <= 2) {
                result.defaultBooleanOp = static_cast<int32_t>(operation.get<int64_t>());
            } else {
                return fail(aspectLine(index, "defaultBooleanOp"), named + ": \"defaultBooleanOp\" must be \"AND\", \"OR\" or \"NOT\"");
            }
        }
        if (aspect.contains("searchPrefixes")) {
            const nlohmann::json& prefixes = aspect["searchPrefixes"];
            const bool wellFormed = prefixes.is_array() && std::all_of(prefixes.begin(), prefixes.end(), [](const auto& prefix) {
                return prefix.is_string() && !prefix.template get<std::string>().empty() &&
                       prefix.template get<std::string>().find(':') == std::string::npos;
            });
            if (!wellFormed) {
                return fail(aspectLine(index, "searchPrefixes"),
                            named + ": \"searchPrefixes\" must be a list of non-empty texts without \":\"");
            }
            for (const auto& prefix : prefixes) result.searchPrefixes.push_back(ZELStringFromUTF8(prefix.template get<std::string>()));
        }
        return result;
    }

    size_t topLine(const std::string& key) const {
        const auto found = lines_.topLevel.find(key);
        return found == lines_.topLevel.end() ? 1 : found->second;
    }

    // The line of the aspect's `key`, else of the aspect itself, else of "aspects".
    size_t aspectLine(size_t index, const std::string& key) const {
        if (index < lines_.aspectKeys.size()) {
            const auto found = lines_.aspectKeys[index].find(key);
            if (found != lines_.aspectKeys[index].end()) return found->second;
        }
        if (index < lines_.aspects.size()) return lines_.aspects[index];
        return topLine("aspects");
    }

    std::nullopt_t fail(size_t line, const std::string& problem) {
        message_ = sourceName_ + ":" + std::to_string(line) + ": " + problem;
        return std::nullopt;
    }

    const std::string& sourceName_;
    const SchemaLines& lines_;
    std::string message_;
};

}  // namespace

size_t ZELToolLineOfOffset(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

std::optional<ZELToolSchema> ZELToolParseSchema(const std::string& text, const std::string& sourceName,
                                                std::string* outMessage) {
    size_t lineFeeds = 0;
    SchemaLines lines;
    std::string topLevelKey;
    // Depths as the parser reports them: the root object 0, its keys and values 1, the
    // aspect objects 2, their keys 3.
    auto noteLine = [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        const size_t line = lineFeeds + 1;
        if (event == nlohmann::json::parse_event_t::key && depth == 1) {
            topLevelKey = parsed.get<std::string>();
            lines.topLevel.emplace(topLevelKey, line);
        } else if (topLevelKey == "aspects" && depth == 2 && event == nlohmann::json::parse_event_t::object_start) {
            lines.aspects.push_back(line);
            lines.aspectKeys.emplace_back();
        } else if (topLevelKey == "aspects" && depth == 3 && event == nlohmann::json::parse_event_t::key &&
                   !lines.aspectKeys.empty()) {
            lines.aspectKeys.back().emplace(parsed.get<std::string>(), line);
        }
        return true;
    };
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(LineCountingIterator(text.data(), &lineFeeds),
                                     LineCountingIterator(text.data() + text.size(), &lineFeeds), noteLine);
    } catch (const nlohmann::json::parse_error& error) {
        *outMessage = sourceName + ":" + std::to_string(ZELToolLineOfOffset(text, error.byte > 0 ? error.byte - 1 : 0)) +
                      ": not valid JSON: " + ZELJSON_ParseErrorText(error);
        return std::nullopt;
    }
    SchemaReader reader(sourceName, lines);
    std::optional<ZELToolSchema> schema = reader.read(root);
    if (!schema) *outMessage = reader.message();
    return schema;
}

std::optional<ZELToolSchema> ZELToolReadSchema(const std::string& path, std::string* outMessage) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf())) {
        *outMessage = path + ": cannot read the schema file";
        return std::nullopt;
    }
    return ZELToolParseSchema(text.str(), path, outMessage);
}

ZELToolSettings ZELToolSettings::fromSchema(const ZELToolSchema& schema) {
    ZELToolSettings settings;
    settings.existenceKey = schema.existenceKey;
    settings.duplicateKeys = schema.duplicateKeys;
    settings.dateKeys = schema.dateKeys;
    for (const ZELToolAspectSchema& aspect : schema.aspects) {
        if (aspect.detectsDuplicates) settings.duplicateDetectionAspects.push_back(aspect.identifier);
        for (const ZELString& prefix : aspect.searchPrefixes) {
            settings.searchPrefixes[prefix].push_back(aspect.identifier);
        }
    }
    return settings;
}

ZELToolSettings ZELToolSettings::fromPlistValue(const ZELValue& value) {
    ZELToolSettings settings;
    if (const ZELValue* key = value.valueForKey("ExistenceKey"); key && key->isString()) {
        settings.existenceKey = key->stringValue();
    }
    auto texts = [&](const char* name, std::vector<ZELString>& into) {
        if (const ZELValue* list = value.valueForKey(name); list && list->isArray()) {
            for (const ZELValue& element : list->arrayValue()) {
                if (element.isString()) into.push_back(element.stringValue());
            }
        }
    };
    texts("DuplicateKeys", settings.duplicateKeys);
    texts("DateKeys", settings.dateKeys);
    texts("DuplicateDetectionAspects", settings.duplicateDetectionAspects);
    if (const ZELValue* prefixes = value.valueForKey("SearchPrefixes"); prefixes && prefixes->isDictionary()) {
        for (const auto& [prefix, aspects] : prefixes->dictionaryValue()) {
            for (const ZELValue& aspect : aspects.arrayValue()) {
                if (aspect.isString()) settings.searchPrefixes[prefix].push_back(aspect.stringValue());
            }
        }
    }
    return settings;
}

ZELValue ZELToolSettings::plistValue() const {
    auto list = [](const std::vector<ZELString>& texts) {
        ZELValue::Array array;
        for (const ZELString& text : texts) array.emplace_back(text);
        return ZELValue(std::move(array));
    };
    ZELValue::Dictionary dictionary{{u"DateKeys", list(dateKeys)},
                                    {u"DuplicateDetectionAspects", list(duplicateDetectionAspects)}};
    if (!existenceKey.empty()) dictionary.emplace(u"ExistenceKey", ZELValue(existenceKey));
    if (!duplicateKeys.empty()) dictionary.emplace(u"DuplicateKeys", list(duplicateKeys));
    if (!searchPrefixes.empty()) {
        ZELValue::Dictionary prefixes;
        for (const auto& [prefix, aspects] : searchPrefixes) prefixes.emplace(prefix, list(aspects));
        dictionary.emplace(u"SearchPrefixes", ZELValue(std::move(prefixes)));
    }
    return ZELValue(std::move(dictionary));
}

namespace {

constexpr std::string_view kDetectedTextGetterPrefix = "detectedText:";

}  // namespace

std::string ZELToolDetectedTextGetterName(const std::string& key) {
    return std::string(kDetectedTextGetterPrefix) + key;
}

void ZELToolRegisterDetectedTextGetter(const std::string& getterName) {
    if (getterName.rfind(kDetectedTextGetterPrefix, 0) != 0 || getterName.size() == kDetectedTextGetterPrefix.size()) return;
    static std::mutex registeredLock;
    static std::set<std::string> registered;  // guarded by registeredLock
    std::lock_guard<std::mutex> guard(registeredLock);
    if (!registered.insert(getterName).second) return;
    const ZELString key = ZELStringFromUTF8(getterName.substr(kDetectedTextGetterPrefix.size()));
    ZELRegistry<ZELValueGetter>::shared().registerEntry(getterName, [key](const ZELObject& item) -> ZELValue {
        const auto* record = dynamic_cast<const ZELRecordItem*>(&item);
        if (!record) return ZELValue();
        const auto found = record->values().find(key);
        if (found == record->values().end() || !found->second.isString()) return ZELValue();
        auto detected = std::make_shared<ZELDetectedTextInfo>();
        detected->addTokensFromString(found->second.stringValue());
        return detected->linkTokens() ? ZELValue(std::shared_ptr<ZELObject>(std::move(detected))) : ZELValue();
    });
}
