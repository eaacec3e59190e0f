#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/ZELTestFileBytes.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"

namespace {

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

struct ReadResult {
    bool ok = false;
    ZELValue value;
    ZELError error;
};

ReadResult readBytes(std::string_view bytes) {
    ReadResult result;
    result.ok = ZELPropertyList::readData(reinterpret_cast<const uint8_t*>(bytes.data()),
                                          bytes.size(), "sample.plist", &result.value, &result.error);
    return result;
}

ReadResult readBytes(const std::vector<uint8_t>& bytes) {
    return readBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

ZELValue roundTrip(const ZELValue& value) {
    std::string xml;
    ZELError error;
    EXPECT_TRUE(ZELPropertyList::xmlData(value, &xml, &error)) << error.description();
    ReadResult result = readBytes(xml);
    EXPECT_TRUE(result.ok) << result.error.description() << "\n" << xml;
    return result.value;
}

// The reason a read fails for, after "property list sample.plist: ".
template <class Bytes>
std::string readFailure(const Bytes& bytes) {
    const ReadResult result = readBytes(bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    const std::string prefix = "property list sample.plist: ";
    const std::string& reason = result.error.failureReason();
    return reason.rfind(prefix, 0) == 0 ? reason.substr(prefix.size()) : reason;
}

std::string writeFailure(const ZELValue& value) {
    std::string xml;
    ZELError error;
    EXPECT_FALSE(ZELPropertyList::xmlData(value, &xml, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    return error.failureReason();
}

ZELValue nestedArrays(int depth) {
    ZELValue value = ZELValue(ZELValue::Array{});
    for (int i = 1; i < depth; ++i) value = ZELValue(ZELValue::Array{value});
    return value;
}

std::string nestedArraysXML(int depth) {
    std::string xml = "<plist>";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>";
}

ZELDate dateFromText(const std::string& text) {
    ReadResult result = readBytes("<plist><date>" + text + "</date></plist>");
    EXPECT_TRUE(result.ok) << text << ": " << result.error.failureReason();
    return result.value.dateValue();
}

std::string textOfDate(double seconds) {
    std::string xml;
    EXPECT_TRUE(ZELPropertyList::xmlData(ZELValue(ZELDate{seconds}), &xml, nullptr));
    const size_t start = xml.find("<date>") + 6;
    return xml.substr(start, xml.find("</date>") - start);
}

// A random value tree of every kind the format holds, with text from all of Unicode that XML
// can carry (and the characters that need escaping) and numbers from their whole range.
class RandomValues {
public:
    explicit RandomValues(uint32_t seed) : random_(seed) {}

    ZELValue value(int depth) {
        switch (pick(depth < 4 ? 9 : 7)) {
            case 0: return ZELValue(pick(2) == 1);
            case 1: return ZELValue(static_cast<int64_t>(random_()));
            case 2: return ZELValue(real());
            case 3: return ZELValue(text());
            case 4: {
                // Anywhere in 0000-01-01 .. 9999-12-31, fraction included.
                std::uniform_real_distribution<double> seconds(-62167219200.0, 253402300799.0);
                return ZELValue(ZELDate{pick(4) == 0 ? std::floor(seconds(random_)) : seconds(random_)});
            }
            case 5: {
                ZELValue::Data data(pick(90));
                for (uint8_t& byte : data) byte = static_cast<uint8_t>(random_());
                return ZELValue(std::move(data));
            }
            case 6: return ZELValue(static_cast<int64_t>(pick(2000)) - 1000);
            case 7: {
                ZELValue::Array array(pick(5));
                for (ZELValue& element : array) element = value(depth + 1);
                return ZELValue(std::move(array));
            }
            default: {
                ZELValue::Dictionary dictionary;
                for (size_t i = pick(5); i > 0; --i) dictionary[text()] = value(depth + 1);
                return ZELValue(std::move(dictionary));
            }
        }
    }

private:
    size_t pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random_); }

    double real() {
        for (;;) {
            const uint64_t bits = random_();
            double candidate;
            std::memcpy(&candidate, &bits, sizeof candidate);
            if (!std::isnan(candidate)) {
                return pick(3) == 0 ? candidate
                                    : std::ldexp(candidate, -1000 + static_cast<int>(pick(1000)));
            }
        }
    }

    ZELString text() {
        static const char16_t kSpecial[] = {u'&',  u'<', u'>', u'\r', u'\n',
                                            u'\t', u' ', u']', u'"',  0xFFFD};
        ZELString result;
        for (size_t i = pick(12); i > 0; --i) {
            switch (pick(4)) {
                case 0: result.push_back(kSpecial[pick(std::size(kSpecial))]); break;
                case 1: result.push_back(static_cast<char16_t>(0x20 + pick(0x5F))); break;
                case 2: result.push_back(static_cast<char16_t>(0xE000 + pick(0x1FFE))); break;
                default: {
                    const uint32_t scalar = 0x10000 + static_cast<uint32_t>(pick(0x100000));
                    result.push_back(static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10)));
                    result.push_back(static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
                }
            }
        }
        return result;
    }

    std::mt19937_64 random_;
};

class TestObject : public ZELObject {};

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    return names;
}

}  // namespace

TEST(ZELPropertyList, XMLOutputIsLiteral) {
    ZELValue::Dictionary dictionary;
    dictionary[u"When"] = ZELValue(ZELDate{978307200.25});
    dictionary[u"Tags"] = ZELValue(ZELValue::Array{ZELValue(u"x"), ZELValue(-7)});
    dictionary[u"Ratio"] = ZELValue(0.1);
    dictionary[u"On"] = ZELValue(true);
    dictionary[u"Name"] = ZELValue(u"a<b & c>d\r");
    dictionary[u"Empty"] = ZELValue(ZELValue::Dictionary{});
    dictionary[u"Count"] = ZELValue(3);
    dictionary[u"Blob"] = ZELValue(ZELValue::Data{0x00, 0x01, 0x02, 0xFF});

    std::string xml;
    ASSERT_TRUE(ZELPropertyList::xmlData(ZELValue(dictionary), &xml, nullptr));
    EXPECT_EQ(xml, kHeader +
                       "<dict>\n\t<key>Blob</key>\n\t<data>\n\tAAEC/w==\n\t</data>\n"
                       "\t<key>Count</key>\n\t<integer>3</integer>\n\t<key>Empty</key>\n\t<dict/>\n"
                       "\t<key>Name</key>\n\t<string>a&lt;b &amp; c&gt;d&#13;</string>\n"
                       "\t<key>On</key>\n\t<true/>\n\t<key>Ratio</key>\n\t<real>0.1</real>\n"
                       "\t<key>Tags</key>\n\t<array>\n\t\t<string>x</string>\n"
                       "\t\t<integer>-7</integer>\n\t</array>\n"
                       "\t<key>When</key>\n\t<date>2001-01-01T00:00:00.25Z</date>\n</dict>\n</plist>\n");

    // Long data is cut into indented lines.
    const ZELValue longData(ZELValue::Array{ZELValue(ZELValue::Data(60, 0xFF))});
    ASSERT_TRUE(ZELPropertyList::xmlData(longData, &xml, nullptr));
    EXPECT_EQ(xml, kHeader + "<array>\n\t<data>\n\t" + std::string(76, '/') + "\n\t" +
                       std::string(4, '/') + "\n\t</data>\n</array>\n</plist>\n");
}

TEST(ZELPropertyList, ValuesWithoutPropertyListFormAreRefused) {
    EXPECT_EQ(writeFailure(ZELValue()), "property list: a none value has no property-list form");
    ZELValue::Dictionary holdsObject{{u"k", ZELValue(std::make_shared<TestObject>())}};
    EXPECT_NE(writeFailure(ZELValue(holdsObject)).find("a client object ("), std::string::npos);
    EXPECT_EQ(
        writeFailure(ZELValue(ZELString{u'a', 0x0001})),
        "property list: string \"a\\x01\" holds the character U+0001, which XML cannot carry");
    EXPECT_NE(writeFailure(ZELValue(ZELString{u'x', 0xD800})).find("unpaired surrogate U+D800"),
              std::string::npos);
    EXPECT_NE(writeFailure(ZELValue(ZELString{0xFFFE})).find("U+FFFE"), std::string::npos);
    EXPECT_NE(writeFailure(ZELValue(ZELValue::Dictionary{{ZELString{0x0000}, ZELValue(1)}}))
                  .find("key \"\\x00\""),
              std::string::npos);
    EXPECT_NE(writeFailure(ZELValue(ZELDate{1e300})).find("outside the years 0000 to 9999"),
              std::string::npos);
    writeFailure(ZELValue(ZELDate{std::nan("")}));
    writeFailure(ZELValue(ZELDate{253402300800.0}));  // 10000-01-01
    EXPECT_EQ(writeFailure(nestedArrays(ZELPropertyList::maximumNestingDepth + 1)),
              "property list: containers nest deeper than 200 levels");
}

// The extremes of each kind; random values cover the rest.
TEST(ZELPropertyList, EveryKindRoundTrips) {
    ZELValue::Dictionary inner;
    inner[ZELStringFromUTF8("cl\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80")] =
        ZELValue(u"<![CDATA[ ]]> &amp; \"quoted\" 'single'");
    ZELValue::Data allBytes(256);
    for (size_t i = 0; i < allBytes.size(); ++i) allBytes[i] = static_cast<uint8_t>(i);

    using Limits = std::numeric_limits<double>;
    // The last value has the deepest nesting written.
    const ZELValue value(ZELValue::Array{
        ZELValue(inner), ZELValue(ZELValue::Array{}), ZELValue(ZELValue::Dictionary{}),
        ZELValue(std::numeric_limits<int64_t>::max()), ZELValue(std::numeric_limits<int64_t>::min()),
        ZELValue(int64_t{0}), ZELValue(1.0), ZELValue(-1e-300), ZELValue(5e-324),
        ZELValue(Limits::max()), ZELValue(Limits::infinity()), ZELValue(-Limits::infinity()),
        ZELValue(ZELDate{-0.3}), ZELValue(ZELDate{-1e-300}), ZELValue(ZELDate{-62167219200.0}),
        ZELValue(ZELDate{253402300799.99997}), ZELValue(ZELValue::Data{}), ZELValue(allBytes),
        nestedArrays(ZELPropertyList::maximumNestingDepth - 1)});
    const ZELValue back = roundTrip(value);
    EXPECT_EQ(back, value);
    // Integers and reals keep their kinds.
    EXPECT_TRUE(back.arrayValue()[6].isReal());
    EXPECT_TRUE(back.arrayValue()[5].isInteger());

    const ZELValue notANumber = roundTrip(ZELValue(std::nan("")));
    EXPECT_TRUE(notANumber.isReal() && std::isnan(notANumber.realValue()));
}

TEST(ZELPropertyList, RandomValuesRoundTrip) {
    RandomValues random(20240611);
    for (int i = 0; i < 300; ++i) {
        const ZELValue value = random.value(0);
        ASSERT_EQ(roundTrip(value), value) << "value " << i;
    }
}

TEST(ZELPropertyList, DatesAreUTCCalendarTimes) {
    EXPECT_EQ(dateFromText("1970-01-01T00:00:00Z").timeIntervalSince1970, 0.0);
    EXPECT_EQ(dateFromText("2000-02-29T12:30:15.5Z").timeIntervalSince1970, 951827415.5);
    EXPECT_EQ(dateFromText("1969-12-31T23:59:59.75Z").timeIntervalSince1970, -0.25);
    EXPECT_EQ(dateFromText("0000-01-01T00:00:00Z").timeIntervalSince1970, -62167219200.0);
    EXPECT_EQ(dateFromText("9999-12-31T23:59:59Z").timeIntervalSince1970, 253402300799.0);
    EXPECT_EQ(dateFromText(" 2001-01-01T00:00:00.000Z\n").timeIntervalSince1970, 978307200.0);

    EXPECT_EQ(textOfDate(951827415.5), "2000-02-29T12:30:15.5Z");
    EXPECT_EQ(textOfDate(-0.3), "1969-12-31T23:59:59.7Z");
    EXPECT_EQ(textOfDate(-86400.0 * 365), "1969-01-01T00:00:00Z");
}

TEST(ZELPropertyList, ReadsTheFormsOtherWritersUse) {
    const ReadResult result = readBytes(
        "<?xml version=\"1.0\"?>\n"
        "<!-- written by hand -->\n"
        "<plist>\n"
        "<dict>\n"
        "  <key>hex</key> <integer> 0x1F </integer>\n"
        "  <key>plus</key> <integer>+12</integer>\n"
        "  <key>inf</key> <real>-Infinity</real>\n"
        "  <key>exp</key> <real>\t1.5E3 </real>\n"
        "  <?some-processing instruction?>\n"
        "  <key>cdata</key> <string><![CDATA[a<b]]>&amp;&#x263A;</string>\n"
        "  <key>lines</key> <data>\n    AAEC\n    Aw==\n  </data>\n"
        "  <key>empty</key> <string/>\n"
        "  <key>yes</key> <true> </true>\n"
        "</dict>\n"
        "</plist>\n");
    ASSERT_TRUE(result.ok) << result.error.failureReason();
    const ZELValue& value = result.value;
    EXPECT_EQ(value.valueForKey("hex")->integerValue(), 31);
    EXPECT_EQ(value.valueForKey("plus")->integerValue(), 12);
    EXPECT_EQ(value.valueForKey("inf")->realValue(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(value.valueForKey("exp")->realValue(), 1500.0);
    EXPECT_EQ(value.valueForKey("cdata")->stringValue(),
              (ZELString{u'a', u'<', u'b', u'&', 0x263A}));
    EXPECT_EQ(value.valueForKey("lines")->dataValue(), (ZELValue::Data{0, 1, 2, 3}));
    EXPECT_EQ(value.valueForKey("empty")->stringValue(), u"");
    EXPECT_TRUE(value.valueForKey("yes")->booleanValue());

    // A UTF-16 document with a byte order mark.
    const std::string utf8 =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><string>\xC3\xA9</string></plist>";
    const ZELString utf16 = ZELStringFromUTF8(utf8);
    std::string bytes = "\xFF\xFE";  // little-endian byte order mark
    for (const char16_t unit : utf16) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    const ReadResult utf16Result = readBytes(bytes);
    ASSERT_TRUE(utf16Result.ok) << utf16Result.error.failureReason();
    EXPECT_EQ(utf16Result.value.stringValue(), u"\u00E9");
}

// Rows whose reason is "malformed XML: " are refused by the parser; only the start is checked.
TEST(ZELPropertyList, DamagedXMLIsRefusedWithAReason) {
    const std::string notADate = "\" is not a UTC date of the form 2001-01-01T00:00:00Z (line 1)";
    const std::string billionLaughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n <!ENTITY lol \"lol\">\n"
        " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
        "]>\n<plist><string>&lol2;</string></plist>\n";
    const struct {
        std::string xml;
        std::string reason;
    } rows[] = {
        {"", "the input is empty"},
        {"<plist>\n<dict>\n<key>n</key>\n<integer>12a</integer>\n</dict>\n</plist>",
         "<integer> value \"12a\" is not an integer (line 4)"},
        {"<plist><integer>9223372036854775808</integer></plist>",
         "<integer> value \"9223372036854775808\" is out of the 64-bit range (line 1)"},
        {"<plist><real>nan(1)</real></plist>", "<real> value \"nan(1)\" is not a number (line 1)"},
        {"<plist><real>1e999</real></plist>",
         "<real> value \"1e999\" is out of the binary64 range (line 1)"},
        {"<plist><date>2001-02-29T00:00:00Z</date></plist>",
         "<date> value \"2001-02-29T00:00:00Z" + notADate},
        {"<plist><date>2001-01-01T00:00:00.Z</date></plist>",
         "<date> value \"2001-01-01T00:00:00.Z" + notADate},
        {"<plist><data>AAE</data></plist>",
         "<data> is not valid base64: its length (3 characters) is not a multiple of 4 (line 1)"},
        {"<plist><data>AA!A</data></plist>",
         "<data> is not valid base64: it holds the character \"!\" (line 1)"},
        {"<plist><data>A===</data></plist>",
         "<data> is not valid base64: it has padding before its end (line 1)"},
        {"<plist><dict>\n<key>a</key><true/>\n<key>a</key><false/></dict></plist>",
         "duplicate key \"a\" in <dict> (line 3)"},
        {"<plist><dict><key>a</key><key>b</key><true/></dict></plist>",
         "<key> \"a\" has no value (line 1)"},
        {"<plist><dict><key>a</key>\n</dict></plist>", "<key> \"a\" has no value (line 1)"},
        {"<plist><dict><true/></dict></plist>", "<true> in <dict> has no <key> before it (line 1)"},
        {"<plist><array><key>a</key></array></plist>", "<key> outside a <dict> (line 1)"},
        {"<plist><array>\n<foo/></array></plist>", "unknown element <foo> (line 2)"},
        {"<plist xmlns:x=\"urn:x\"><x:string>a</x:string></plist>",
         "unknown element <x:string> (line 1)"},
        {"<plist><string>a<b/></string></plist>", "<string> holds an element <b> (line 1)"},
        {"<plist><array> stray <true/></array></plist>",
         "text \"stray\" stands between the elements of <array> (line 1)"},
        {"<plist><true>yes</true></plist>", "<true/> holds text \"yes\" (line 1)"},
        {"<dict/>", "the root element is <dict>, expected <plist> (line 1)"},
        {"<plist>\n</plist>", "<plist> holds no value (line 1)"},
        {"<plist><true/><false/></plist>", "<plist> holds more than one value (line 1)"},
        {"<plist version=\"2.0\"><true/></plist>", "unsupported <plist> version \"2.0\" (line 1)"},
        {nestedArraysXML(ZELPropertyList::maximumNestingDepth + 1),
         "containers nest deeper than 200 levels (line 1)"},
        {billionLaughs, "entity declarations are not allowed (<!ENTITY lol>) (line 3)"},
        {"<!DOCTYPE plist [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>"
         "<plist><string>&secret;</string></plist>",
         "entity declarations are not allowed (<!ENTITY secret>) (line 1)"},
        {"<!DOCTYPE plist [<!ENTITY % ext SYSTEM \"http://example.com/x.dtd\"> %ext;]>"
         "<plist><true/></plist>",
         "entity declarations are not allowed (<!ENTITY ext>) (line 1)"},
        {"bplist01", "binary form of an unsupported version (only \"bplist00\" is read)"},
        {"<plist>\n<dict>\n<key>a</key>", "malformed XML: "},
        {"<plist><true/></plist>\n<dict/>", "malformed XML: "},
        {"<plist><string>caf\xC3</string></plist>", "malformed XML: "},
        {"<plist><string>&nope;</string></plist>", "malformed XML: "},
        {nestedArraysXML(100000), "malformed XML: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.xml.substr(0, 80));
        const std::string reason = readFailure(row.xml);
        if (row.reason == "malformed XML: ") {
            EXPECT_EQ(reason.rfind(row.reason, 0), 0u) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos);
        } else {
            EXPECT_EQ(reason, row.reason);
        }
    }
}

TEST(ZELPropertyList, ParserComplaintsStayOffStandardError) {
    // libxml2 reports failed encoding conversions on its own channel, not the parser's.
    testing::internal::CaptureStderr();
    const ReadResult result = readBytes(
        "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><plist><string>\x8E\xFF\xFF</string></plist>");
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.failureReason().rfind("property list sample.plist: malformed XML: ", 0),
              0u);
    EXPECT_EQ(printed, "");
}

TEST(ZELPropertyList, EveryPrefixOfADocumentFailsCleanly) {
    const std::string document = kHeader +
                                 "<array><dict><key>a</key><date>2001-01-01T00:00:00Z</date></dict>"
                                 "<data>AAEC</data><real>1.5</real></array></plist>";
    for (size_t length = 0; length + 1 < document.size(); ++length) {
        readFailure(document.substr(0, length));
    }
}

namespace {

// Assembles a binary property list from object bytes, with one-byte offsets and references
// unless told otherwise.
std::vector<uint8_t> binaryPlist(const std::vector<std::vector<uint8_t>>& objects, uint64_t top = 0,
                                 uint8_t offsetSize = 1, uint8_t refSize = 1) {
    std::vector<uint8_t> bytes = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(bytes.size());
        bytes.insert(bytes.end(), object.begin(), object.end());
    }
    const uint64_t tableOffset = bytes.size();
    const auto appendBigEndian = [&](uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    for (const uint64_t offset : offsets) appendBigEndian(offset, offsetSize);
    bytes.insert(bytes.end(), {0, 0, 0, 0, 0, 0, offsetSize, refSize});
    for (const uint64_t word : {uint64_t{objects.size()}, top, tableOffset}) appendBigEndian(word, 8);
    return bytes;
}

// { "a" = 1; "b" = ( true, "é", 0.5, 2001-01-01, <01 02>, -1 ); }
// Objects from offset 8: the dictionary (keys 1 2, values 3 4), "a", "b", 1, the array of
// 5 to 10, true, "é" in UTF-16, 0.5, the date 0.0 (2001-01-01), data 01 02, -1; the offset
// table at 60; the trailer at 71 (sizes 1 and 1, 11 objects, top 0, table at 60).
const std::vector<uint8_t> kSmallBinaryDictionary = ZELTestHex(
    "62706C6973743030 D201020304 5161 5162 1001 A605060708090A 09 6100E9 233FE0000000000000"
    "330000000000000000 420102 13FFFFFFFFFFFFFFFF 080D0F11131A1B1E273033"
    "0000000000000101 000000000000000B 0000000000000000 000000000000003C");

}  // namespace

TEST(ZELPropertyList, ReadsAHandMadeBinaryDictionary) {
    const ReadResult result = readBytes(kSmallBinaryDictionary);
    ASSERT_TRUE(result.ok) << result.error.failureReason();
    const ZELValue expected(ZELValue::Dictionary{
        {u"a", ZELValue(1)},
        {u"b", ZELValue(ZELValue::Array{ZELValue(true), ZELValue(u"\u00E9"), ZELValue(0.5),
                                        ZELValue(ZELDate{978307200.0}),
                                        ZELValue(ZELValue::Data{1, 2}), ZELValue(-1)})},
    });
    EXPECT_EQ(result.value, expected);
    // What was read in binary form writes out as XML and reads back the same.
    EXPECT_EQ(roundTrip(result.value), expected);
}

TEST(ZELPropertyList, BinaryCountsSizesAndWideIntegers) {
    std::vector<uint8_t> longString = {0x5F, 0x10, 20};
    longString.insert(longString.end(), 20, 'z');
    const ReadResult result = readBytes(binaryPlist(
        {{0xA6, 1, 2, 3, 4, 5, 6}, longString,
         ZELTestHex("14 0000000000000000 7FFFFFFFFFFFFFFF"),  // 16-byte integers
         ZELTestHex("14 FFFFFFFFFFFFFFFF 8000000000000000"),
         ZELTestHex("22 3FC00000"),  // 1.5f
         ZELTestHex("63 0061 D83D DE00"),  // "a" U+1F600 in UTF-16
         ZELTestHex("12 80000000")},
        0, 2, 1));
    ASSERT_TRUE(result.ok) << result.error.failureReason();
    EXPECT_EQ(result.value, ZELValue(ZELValue::Array{
                                ZELValue::fromUTF8(std::string(20, 'z')),
                                ZELValue(std::numeric_limits<int64_t>::max()),
                                ZELValue(std::numeric_limits<int64_t>::min()), ZELValue(1.5),
                                ZELValue::fromUTF8("a\xF0\x9F\x98\x80"),
                                ZELValue(int64_t{0x80000000}),  // 4-byte integers are unsigned
                            }));
}

TEST(ZELPropertyList, DamagedBinaryIsRefusedWithAReason) {
    // Every prefix is truncated somewhere: never a crash, always an error.
    const auto prefix = [](size_t length) {
        const auto& whole = kSmallBinaryDictionary;
        return std::string(whole.begin(), whole.begin() + static_cast<long>(length));
    };
    for (size_t length = 0; length < kSmallBinaryDictionary.size(); ++length) {
        readFailure(prefix(length));
    }
    // (Arbitrary damage is the property-list fuzz target's.)

    EXPECT_EQ(readFailure(prefix(39)),
              "the binary form is truncated (shorter than its header and trailer)");
    const size_t end = kSmallBinaryDictionary.size();
    const struct {
        size_t position;
        uint8_t byte;
        const char* reason;
    } damages[] = {
        {60 + 3, 71, "binary object 3: its offset 71 lies outside the objects"},
        {9, 11, "binary object 0: it refers to object 11 of 11"},
        {end - 9, 11, "the top object 11 is not among the 11 objects"},
        {end - 1, 200, "the offset table offset 200 lies outside the objects"},
        {end - 17, 12,
         "the offset table of 12 entries does not fit between offset 60 and the trailer"},
        {end - 26, 0, "the trailer gives offset size 0 and reference size 1; both must be 1 to 8"},
        // A dictionary whose count comes next, but what comes is a reference.
        {8, 0xDF, "binary object 0: its count is not an integer of at most 8 bytes (marker 0x01)"},
    };
    for (const auto& damage : damages) {
        std::vector<uint8_t> bytes = kSmallBinaryDictionary;
        bytes[damage.position] = damage.byte;
        EXPECT_EQ(readFailure(bytes), damage.reason);
    }

    const struct {
        std::vector<std::vector<uint8_t>> objects;
        const char* reason;
    } made[] = {
        {{{0xA1, 1}, {0xA1, 0}}, "binary object 0: it contains itself (a reference cycle)"},
        {{{0xD1, 1, 2}, {0x10, 1}, {0x09}}, "binary object 0: a key is a integer, not a string"},
        {{{0xD2, 1, 1, 2, 2}, {0x51, 'k'}, {0x09}}, "binary object 0: duplicate key \"k\""},
        {{{0x80, 1}}, "binary object 0: unsupported object type (marker 0x80)"},
        {{{0x53, 'a', 0xC3, 0xA9}}, "binary object 0: the ASCII string holds the byte 0xC3"},
        {{{0x61, 0xDC, 0x00}}, "binary object 0: the string holds an unpaired surrogate U+DC00"},
        {{{0x45, 1, 2}}, "binary object 0: the data runs past the objects"},
        {{{0xA1, 1}, {0x5A, '0', '1', '2', '3'}}, "binary object 1: the string runs past the objects"},
        {{{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
         "binary object 0: the integer is out of the 64-bit range"},
        {{{0x33, 0x7F, 0xF8, 0, 0, 0, 0, 0, 0}},
         "binary object 0: the date is not a finite number"},
    };
    for (const auto& row : made) EXPECT_EQ(readFailure(binaryPlist(row.objects)), row.reason);
}

TEST(ZELPropertyList, BinaryNestingAndSharingAreBounded) {
    // 201 nested arrays.
    std::vector<std::vector<uint8_t>> objects;
    for (int i = 0; i < ZELPropertyList::maximumNestingDepth; ++i) {
        objects.push_back({0xA1, static_cast<uint8_t>(i + 1)});
    }
    objects.push_back({0xA0});
    EXPECT_EQ(readFailure(binaryPlist(objects, 0, 2, 1)),
              "binary object 200: containers nest deeper than 200 levels");

    // Each array holds the next one twice: 2^40 values from 41 objects.
    objects.clear();
    for (int i = 0; i < 40; ++i) {
        objects.push_back({0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)});
    }
    objects.push_back({0x09});
    EXPECT_NE(readFailure(binaryPlist(objects)).find("shared objects expand to too many values"),
              std::string::npos);

    // Shared objects within reason are fine: one key used by two dictionaries.
    const ReadResult shared =
        readBytes(binaryPlist({{0xA2, 1, 2}, {0xD1, 3, 4}, {0xD1, 3, 4}, {0x51, 'k'}, {0x08}}));
    ASSERT_TRUE(shared.ok) << shared.error.failureReason();
    EXPECT_EQ(shared.value.arrayValue().size(), 2u);
}

using ZELPropertyListFileTest = ZELTestFolderTest;

TEST_F(ZELPropertyListFileTest, FilesAreWrittenAtomicallyAndReadBack) {
    const std::string path = folder_ / "info.plist";
    ZELError error;
    ASSERT_TRUE(ZELPropertyList::writeFile(path, ZELValue(1), &error)) << error.description();
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    const ZELValue second(ZELValue::Dictionary{{u"Version", ZELValue(2)}});
    ASSERT_TRUE(ZELPropertyList::writeFile(path, second, &error)) << error.description();
    ZELValue read;
    ASSERT_TRUE(ZELPropertyList::readFile(path, &read, &error)) << error.description();
    EXPECT_EQ(read, second);
    std::string xml;
    ASSERT_TRUE(ZELPropertyList::xmlData(second, &xml, nullptr));
    EXPECT_EQ(ZELTestReadFile<std::string>(path), xml);
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);  // a replaced file keeps its permissions
    EXPECT_EQ(folderEntries(folder_), std::vector<std::string>{"info.plist"});  // no temporary left

    // A damaged file is named in the reason.
    ZELTestWriteFile(folder_ / "damaged.plist", "<plist><true/>");
    EXPECT_FALSE(ZELPropertyList::readFile(folder_ / "damaged.plist", &read, &error));
    EXPECT_EQ(error.failureReason().rfind("property list " + (folder_ / "damaged.plist").string() +
                                              ": malformed XML: ", 0), 0u);
    std::filesystem::remove(folder_ / "damaged.plist");

    // A value that cannot be written leaves the file alone and names it.
    EXPECT_FALSE(ZELPropertyList::writeFile(path, ZELValue(), &error));
    EXPECT_EQ(error.failureReason(),
              "property list " + path + ": a none value has no property-list form");
    EXPECT_EQ(ZELTestReadFile<std::string>(path), xml);
    EXPECT_EQ(folderEntries(folder_), std::vector<std::string>{"info.plist"});

    const std::string missing = folder_ / "missing.plist";
    EXPECT_FALSE(ZELPropertyList::readFile(missing, &read, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeFileAccess));
    EXPECT_EQ(error.failureReason(),
              "property list " + missing + ": cannot open: No such file or directory");
    EXPECT_FALSE(ZELPropertyList::readFile(folder_, &read, &error));
    EXPECT_EQ(error.failureReason(),
              "property list " + folder_.string() + ": cannot read: Is a directory");
    const std::string unwritable = folder_ / "no/such/folder_/x.plist";
    EXPECT_FALSE(ZELPropertyList::writeFile(unwritable, ZELValue(true), &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeWriteFailed));
    EXPECT_EQ(error.failureReason(),
              "property list " + unwritable +
                  ": cannot create a temporary file: No such file or directory");
}
