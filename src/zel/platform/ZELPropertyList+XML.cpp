// The XML reader of property lists, on libxml2's tree parser.
//
// The document type, as read here:
//   <plist version="1.0"> holds exactly one value (the version attribute may be left out);
//   values are <dict> (alternating <key> and value elements, keys unique), <array>, <string>,
//   <integer> (decimal or 0x hexadecimal, optional sign, 64-bit signed range), <real> (decimal,
//   or nan / inf / infinity with an optional sign), <true/>, <false/>, <date> (ISO 8601 UTC) and
//   <data> (base64, whitespace allowed anywhere). Whitespace around a number or date is allowed;
//   comments and processing instructions are passed over.
// The parser never touches the network, never loads the external document type, refuses
// entity declarations outright (no entity expansion, so no "billion laughs"), and keeps
// libxml2's default limits (element depth 256, text nodes of 10 MB).

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "zel/platform/ZELPropertyList+Private.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"

namespace {

// What the libxml2 callbacks leave for the reader: the first error met while parsing.
struct ZELXMLParseFailure {
    std::string message;
    long line = 0;
};

ZELXMLParseFailure& failureOfParser(void* context) {
    // libxml2 hands its callbacks the context's userData, which is the context itself.
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    return *static_cast<ZELXMLParseFailure*>(parser->_private);
}

#if LIBXML_VERSION >= 21200
void recordParseError(void* context, const xmlError* error) {
#else
void recordParseError(void* context, xmlErrorPtr error) {
#endif
    ZELXMLParseFailure& failure = failureOfParser(context);
    if (!error || error->level < XML_ERR_ERROR || !failure.message.empty()) return;
    std::string message = error->message ? error->message : "unknown XML error";
    // libxml2 ends its messages with a line feed and sometimes splits them over two lines.
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    for (char& c : message) {
        if (c == '\n') c = ' ';
    }
    failure.message = "malformed XML: " + message;
    failure.line = error->line;
}

// Installed as the entity-declaration callback: the first declaration stops the parser, before
// any entity can be referenced, let alone expanded.
void refuseEntityDeclaration(void* context, const xmlChar* name, int, const xmlChar*,
                             const xmlChar*, xmlChar*) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    ZELXMLParseFailure& failure = failureOfParser(context);
    if (failure.message.empty()) {
        failure.message = "entity declarations are not allowed (<!ENTITY " +
                          std::string(reinterpret_cast<const char*>(name)) + ">)";
        failure.line = parser->input ? parser->input->line : 0;
    }
    xmlStopParser(parser);
}

void ignoreGenericError(void*, const char*, ...) {}

// Some libxml2 errors (failed encoding conversions) bypass the parser context and go to the
// thread's generic error handler, which prints to standard error. While it lives, this guard
// silences that handler on the current thread (libxml2 keeps it per thread) and then puts the
// host's handler back.
class ZELXMLGenericErrorSilencer {
public:
    ZELXMLGenericErrorSilencer() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
    }
    ~ZELXMLGenericErrorSilencer() { xmlSetGenericErrorFunc(context_, handler_); }
    ZELXMLGenericErrorSilencer(const ZELXMLGenericErrorSilencer&) = delete;
    ZELXMLGenericErrorSilencer& operator=(const ZELXMLGenericErrorSilencer&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* context_;
};

struct ZELXMLDocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct ZELXMLParserDeleter {
    void operator()(xmlParserCtxt* parser) const { xmlFreeParserCtxt(parser); }
};

const char* nameOf(const xmlNode* node) {
    return reinterpret_cast<const char*>(node->name);
}

bool isNamed(const xmlNode* node, const char* name) {
    return node->ns == nullptr && std::strcmp(nameOf(node), name) == 0;
}

bool isXMLSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(std::string_view text) {
    for (const char c : text) {
        if (!isXMLSpace(c)) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXMLSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isXMLSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string contentOf(const xmlNode* node) {
    return node->content ? reinterpret_cast<const char*>(node->content) : "";
}

// [+-]digits or [+-]0x hexdigits, within the signed 64-bit range.
enum class ZELIntegerParse { Valid, Malformed, OutOfRange };
ZELIntegerParse parseInteger(std::string_view text, int64_t* outValue) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // from_chars would take a second sign; only digits may follow.
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        return ZELIntegerParse::Malformed;
    }
    uint64_t magnitude = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (result.ptr != text.data() + text.size()) {
        return result.ec == std::errc::result_out_of_range ? ZELIntegerParse::OutOfRange
                                                           : ZELIntegerParse::Malformed;
    }
    if (result.ec == std::errc::result_out_of_range) return ZELIntegerParse::OutOfRange;
    constexpr uint64_t kLargestMagnitude = uint64_t{INT64_MAX};
    if (negative) {
        if (magnitude > kLargestMagnitude + 1) return ZELIntegerParse::OutOfRange;
        *outValue =
            magnitude == kLargestMagnitude + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    } else {
        if (magnitude > kLargestMagnitude) return ZELIntegerParse::OutOfRange;
        *outValue = static_cast<int64_t>(magnitude);
    }
    return ZELIntegerParse::Valid;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowercaseWord) {
    if (text.size() != lowercaseWord.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c =
            text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowercaseWord[i]) return false;
    }
    return true;
}

// Decimal notation as strtod reads it in the C locale, or nan, inf, infinity; optional sign.
enum class ZELRealParse { Valid, Malformed, OutOfRange };
ZELRealParse parseReal(std::string_view text, double* outValue) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double magnitude = 0;
    if (equalsIgnoringCase(text, "nan")) {
        magnitude = std::numeric_limits<double>::quiet_NaN();
    } else if (equalsIgnoringCase(text, "inf") || equalsIgnoringCase(text, "infinity")) {
        magnitude = std::numeric_limits<double>::infinity();
    } else {
        // from_chars would take "nan(...)" or a second sign; only a digit or point may start.
        if (text.empty() ||
            !((text.front() >= '0' && text.front() <= '9') || text.front() == '.')) {
            return ZELRealParse::Malformed;
        }
        const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude,
                                            std::chars_format::general);
        if (result.ptr != text.data() + text.size()) return ZELRealParse::Malformed;
        if (result.ec == std::errc::result_out_of_range) return ZELRealParse::OutOfRange;
        if (result.ec != std::errc()) return ZELRealParse::Malformed;
    }
    *outValue = negative ? -magnitude : magnitude;
    return ZELRealParse::Valid;
}

// Standard base64 with '=' padding; XML whitespace may appear anywhere. Answers the problem.
std::optional<std::string> decodeBase64(std::string_view text, ZELValue::Data* outData) {
    std::string symbols;
    symbols.reserve(text.size());
    for (const char c : text) {
        if (!isXMLSpace(c)) symbols.push_back(c);
    }
    if (symbols.size() % 4 != 0) {
        return ZELStringWithFormat("its length (%zu characters) is not a multiple of 4",
                                   symbols.size());
    }
    size_t padding = 0;
    while (padding < 2 && padding < symbols.size() &&
           symbols[symbols.size() - 1 - padding] == '=') {
        ++padding;
    }
    ZELValue::Data data;
    data.reserve(symbols.size() / 4 * 3);
    uint32_t group = 0;
    for (size_t i = 0; i < symbols.size() - padding; ++i) {
        const char c = symbols[i];
        uint32_t sextet;
        if (c >= 'A' && c <= 'Z') {
            sextet = static_cast<uint32_t>(c - 'A');
        } else if (c >= 'a' && c <= 'z') {
            sextet = static_cast<uint32_t>(c - 'a' + 26);
        } else if (c >= '0' && c <= '9') {
            sextet = static_cast<uint32_t>(c - '0' + 52);
        } else if (c == '+') {
            sextet = 62;
        } else if (c == '/') {
            sextet = 63;
        } else if (c == '=') {
            return std::string("it has padding before its end");
        } else {
            return "it holds the character " + ZELPropertyList_Excerpt(std::string_view(&c, 1));
        }
        group = (group << 6) | sextet;
        if (i % 4 == 3) {
            data.push_back(static_cast<uint8_t>(group >> 16));
            data.push_back(static_cast<uint8_t>(group >> 8));
            data.push_back(static_cast<uint8_t>(group));
            group = 0;
        }
    }
    if (padding == 1) {  // three symbols, two bytes
        data.push_back(static_cast<uint8_t>(group >> 10));
        data.push_back(static_cast<uint8_t>(group >> 2));
    } else if (padding == 2) {  // two symbols, one byte
        data.push_back(static_cast<uint8_t>(group >> 4));
    }
    *outData = std::move(data);
    return std::nullopt;
}

// Turns a parsed document into a value, checking it against the document type above.
class ZELPropertyListXMLReader {
public:
    ZELPropertyListXMLReader(const std::string& sourceName, ZELError* outError)
        : sourceName_(sourceName), outError_(outError) {}

    bool readDocument(const xmlDoc* document, ZELValue* outValue) {
        const xmlNode* root = xmlDocGetRootElement(document);
        if (!root) return fail(nullptr, "the document has no root element");
        if (!isNamed(root, "plist")) {
            return fail(
                root, "the root element is <" + std::string(nameOf(root)) + ">, expected <plist>");
        }
        if (xmlChar* version = xmlGetNoNsProp(root, reinterpret_cast<const xmlChar*>("version"))) {
            const std::string text = reinterpret_cast<const char*>(version);
            xmlFree(version);
            if (text != "1.0") {
                return fail(root, "unsupported <plist> version " + ZELPropertyList_Excerpt(text));
            }
        }
        const xmlNode* valueElement = nullptr;
        for (const xmlNode* child = root->children; child; child = child->next) {
            if (!checkContainerChild(child, "plist")) return false;
            if (child->type != XML_ELEMENT_NODE) continue;
            if (valueElement) return fail(child, "<plist> holds more than one value");
            valueElement = child;
        }
        if (!valueElement) return fail(root, "<plist> holds no value");
        return readValue(valueElement, 0, outValue);
    }

private:
    bool fail(const xmlNode* node, const std::string& problem) {
        std::string text = problem;
        if (node) text += ZELStringWithFormat(" (line %ld)", xmlGetLineNo(node));
        return ZELSetError(outError_, ZELPropertyList_InvalidDataError(sourceName_, text));
    }

    // Between the elements of a container only whitespace, comments and processing instructions
    // may appear.
    bool checkContainerChild(const xmlNode* child, const char* containerName) {
        switch (child->type) {
            case XML_ELEMENT_NODE:
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                return true;
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE: {
                const std::string text = contentOf(child);
                if (isBlank(text)) return true;
                return fail(child,
                            ZELStringWithFormat("text %s stands between the elements of <%s>",
                                                ZELPropertyList_Excerpt(trimmed(text)).c_str(),
                                                containerName));
            }
            default:
                return fail(child, ZELStringWithFormat("<%s> holds an entity reference or other "
                                                       "unexpected content",
                                                       containerName));
        }
    }

    // The character content of a leaf element (<string>, <key>, <integer>, ...).
    bool textOf(const xmlNode* element, std::string* outText) {
        std::string text;
        for (const xmlNode* child = element->children; child; child = child->next) {
            switch (child->type) {
                case XML_TEXT_NODE:
                case XML_CDATA_SECTION_NODE:
                    text += contentOf(child);
                    break;
                case XML_COMMENT_NODE:
                case XML_PI_NODE:
                    break;
                case XML_ELEMENT_NODE:
                    return fail(child, ZELStringWithFormat("<%s> holds an element <%s>",
                                                           nameOf(element), nameOf(child)));
                default:
                    return fail(child, ZELStringWithFormat("<%s> holds an entity reference or "
                                                           "other unexpected content",
                                                           nameOf(element)));
            }
        }
        // libxml2 has checked the encoding already; this guards against any slip there.
        if (!ZELStringIsValidUTF8(text)) {
            return fail(element,
                        ZELStringWithFormat("<%s> text is not valid UTF-8", nameOf(element)));
        }
        *outText = std::move(text);
        return true;
    }

    bool checkNesting(const xmlNode* element, int depth) {
        if (depth < ZELPropertyList::maximumNestingDepth) return true;
        return fail(element, ZELStringWithFormat("containers nest deeper than %d levels",
                                                 ZELPropertyList::maximumNestingDepth));
    }

    // `depth` counts the containers around `element`.
    bool readValue(const xmlNode* element, int depth, ZELValue* outValue) {
        if (element->ns != nullptr) {
            return fail(element, ZELStringWithFormat("unknown element <%s:%s>",
                                                     reinterpret_cast<const char*>(
                                                         element->ns->prefix ? element->ns->prefix
                                                                             : element->ns->href),
                                                     nameOf(element)));
        }
        const std::string_view name = nameOf(element);
        if (name == "dict") return readDictionary(element, depth, outValue);
        if (name == "array") return readArray(element, depth, outValue);
        if (name == "true" || name == "false") {
            std::string text;
            if (!textOf(element, &text)) return false;
            if (!isBlank(text)) {
                return fail(element, ZELStringWithFormat("<%s/> holds text %s", nameOf(element),
                                                         ZELPropertyList_Excerpt(text).c_str()));
            }
            *outValue = ZELValue(name == "true");
            return true;
        }
        if (name == "key") return fail(element, "<key> outside a <dict>");
        if (name != "string" && name != "integer" && name != "real" && name != "date" &&
            name != "data") {
            return fail(element, ZELStringWithFormat("unknown element <%s>", nameOf(element)));
        }

        std::string text;
        if (!textOf(element, &text)) return false;
        if (name == "string") {
            *outValue = ZELValue(ZELStringFromUTF8(text));
            return true;
        }
        if (name == "data") {
            ZELValue::Data data;
            if (const auto problem = decodeBase64(text, &data)) {
                return fail(element, "<data> is not valid base64: " + *problem);
            }
            *outValue = ZELValue(std::move(data));
            return true;
        }
        const std::string_view number = trimmed(text);
        const std::string quoted = ZELPropertyList_Excerpt(number);
        if (name == "integer") {
            int64_t integer = 0;
            switch (parseInteger(number, &integer)) {
                case ZELIntegerParse::Valid:
                    *outValue = ZELValue(integer);
                    return true;
                case ZELIntegerParse::Malformed:
                    return fail(element, "<integer> value " + quoted + " is not an integer");
                case ZELIntegerParse::OutOfRange:
                    return fail(element,
                                "<integer> value " + quoted + " is out of the 64-bit range");
            }
        }
        if (name == "real") {
            double real = 0;
            switch (parseReal(number, &real)) {
                case ZELRealParse::Valid:
                    *outValue = ZELValue(real);
                    return true;
                case ZELRealParse::Malformed:
                    return fail(element, "<real> value " + quoted + " is not a number");
                case ZELRealParse::OutOfRange:
                    return fail(element,
                                "<real> value " + quoted + " is out of the binary64 range");
            }
        }
        ZELDate date;
        if (!ZELPropertyList_DateFromISO8601(number, &date)) {
            return fail(element, "<date> value " + quoted +
                                     " is not a UTC date of the form 2001-01-01T00:00:00Z");
        }
        *outValue = ZELValue(date);
        return true;
    }

    bool readArray(const xmlNode* element, int depth, ZELValue* outValue) {
        if (!checkNesting(element, depth)) return false;
        ZELValue::Array array;
        for (const xmlNode* child = element->children; child; child = child->next) {
            if (!checkContainerChild(child, "array")) return false;
            if (child->type != XML_ELEMENT_NODE) continue;
            ZELValue value;
            if (!readValue(child, depth + 1, &value)) return false;
            array.push_back(std::move(value));
        }
        *outValue = ZELValue(std::move(array));
        return true;
    }

    bool readDictionary(const xmlNode* element, int depth, ZELValue* outValue) {
        if (!checkNesting(element, depth)) return false;
        ZELValue::Dictionary dictionary;
        const xmlNode* keyElement = nullptr;  // a <key> still waiting for its value
        ZELString key;
        for (const xmlNode* child = element->children; child; child = child->next) {
            if (!checkContainerChild(child, "dict")) return false;
            if (child->type != XML_ELEMENT_NODE) continue;
            if (keyElement == nullptr) {
                if (!isNamed(child, "key")) {
                    return fail(child, ZELStringWithFormat("<%s> in <dict> has no <key> before it",
                                                           nameOf(child)));
                }
                std::string keyText;
                if (!textOf(child, &keyText)) return false;
                key = ZELStringFromUTF8(keyText);
                if (dictionary.count(key) != 0) {
                    return fail(child,
                                "duplicate key " + ZELPropertyList_Excerpt(keyText) + " in <dict>");
                }
                keyElement = child;
                continue;
            }
            if (isNamed(child, "key")) return failKeyWithoutValue(keyElement, key);
            ZELValue value;
            if (!readValue(child, depth + 1, &value)) return false;
            dictionary.emplace(std::move(key), std::move(value));
            key.clear();
            keyElement = nullptr;
        }
        if (keyElement) return failKeyWithoutValue(keyElement, key);
        *outValue = ZELValue(std::move(dictionary));
        return true;
    }

    bool failKeyWithoutValue(const xmlNode* keyElement, const ZELString& key) {
        return fail(keyElement,
                    "<key> " + ZELPropertyList_Excerpt(ZELStringToUTF8(key)) + " has no value");
    }

    const std::string& sourceName_;
    ZELError* outError_;
};

}  // namespace

bool ZELPropertyList_ReadXML(const uint8_t* bytes, size_t length, const std::string& sourceName,
                             ZELValue* outValue, ZELError* outError) {
    if (length == 0) {
        return ZELSetError(outError,
                           ZELPropertyList_InvalidDataError(sourceName, "the input is empty"));
    }
    if (length > static_cast<size_t>(INT_MAX)) {
        return ZELSetError(outError,
                           ZELPropertyList_InvalidDataError(sourceName, "the input is too large"));
    }
    static std::once_flag initialized;
    std::call_once(initialized, [] { xmlInitParser(); });
    const ZELXMLGenericErrorSilencer silencer;

    std::unique_ptr<xmlParserCtxt, ZELXMLParserDeleter> parser(
        xmlCreateMemoryParserCtxt(reinterpret_cast<const char*>(bytes), static_cast<int>(length)));
    if (!parser) {
        return ZELSetError(outError, ZELPropertyList_InvalidDataError(
                                         sourceName, "the XML parser could not be created"));
    }
    // No network, no external document type, no entity substitution (XML_PARSE_NOENT is what
    // would turn it on), CDATA read as text, and line numbers past 65535.
    xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_BIG_LINES);
    ZELXMLParseFailure failure;
    parser->_private = &failure;
    parser->sax->serror = recordParseError;
    parser->sax->error = nullptr;
    parser->sax->warning = nullptr;
    parser->sax->entityDecl = refuseEntityDeclaration;
    xmlParseDocument(parser.get());
    std::unique_ptr<xmlDoc, ZELXMLDocumentDeleter> document(parser->myDoc);
    parser->myDoc = nullptr;

    if (!failure.message.empty() || !parser->wellFormed || !document) {
        std::string problem = failure.message.empty() ? "malformed XML" : failure.message;
        if (failure.line > 0) problem += ZELStringWithFormat(" (line %ld)", failure.line);
        return ZELSetError(outError, ZELPropertyList_InvalidDataError(sourceName, problem));
    }
    return ZELPropertyListXMLReader(sourceName, outError).readDocument(document.get(), outValue);
}
