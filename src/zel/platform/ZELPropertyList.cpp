#include "zel/platform/ZELPropertyList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELPropertyList+Private.h"
#include "zel/platform/ZELString.h"

namespace {

// Larger files are refused before they are read whole; the system's property lists are a few
// kilobytes.
constexpr size_t kMaximumFileSize = size_t{256} << 20;

// Base64 lines in <data> are cut at this many characters.
constexpr size_t kBase64LineLength = 76;

constexpr char kXMLHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr char kXMLFooter[] = "</plist>\n";

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar (H. Hinnant's algorithm).
constexpr int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t* outYear, int64_t* outMonth, int64_t* outDay) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    *outDay = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *outMonth = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *outYear = yearOfEra + era * 400 + (*outMonth <= 2);
}

int daysInMonth(int64_t year, int64_t month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The seconds of 0000-01-01T00:00:00Z and 10000-01-01T00:00:00Z.
constexpr int64_t kFirstWritableSecond = daysFromCivil(0, 1, 1) * kSecondsPerDay;
constexpr int64_t kEndOfWritableSeconds = daysFromCivil(10000, 1, 1) * kSecondsPerDay;

// Reads `count` decimal digits at `text[position]`.
bool readDigits(std::string_view text, size_t position, size_t count, int64_t* outValue) {
    if (position + count > text.size()) return false;
    int64_t value = 0;
    for (size_t i = position; i < position + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    *outValue = value;
    return true;
}

// The digits of 1 - 0.F for the n digits F of a fraction: 10^n - F, written with n digits, so
// again without trailing zeros.
// Requires: `digits` is not empty and does not end in '0'.
std::string complementedFraction(std::string_view digits) {
    std::string complement(digits);
    for (size_t i = 0; i + 1 < complement.size(); ++i) {
        complement[i] = static_cast<char>('9' - (digits[i] - '0'));
    }
    if (!complement.empty()) {
        complement.back() = static_cast<char>('0' + 10 - (digits.back() - '0'));
    }
    return complement;
}

// Checks that XML 1.0 can carry `text` (Char ::= #x9 | #xA | #xD | [#x20-#xD7FF] |
// [#xE000-#xFFFD] | [#x10000-#x10FFFF]); otherwise names the first offending code unit.
bool checkXMLCharacters(const ZELString& text, std::string* outProblem) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        const bool allowed = unit == 0x9 || unit == 0xA || unit == 0xD ||
                             (unit >= 0x20 && unit <= 0xD7FF) || (unit >= 0xE000 && unit <= 0xFFFD);
        if (!allowed) {
            *outProblem = (unit >= 0xD800 && unit <= 0xDFFF)
                              ? ZELStringWithFormat("an unpaired surrogate U+%04X", unsigned{unit})
                              : ZELStringWithFormat("the character U+%04X", unsigned{unit});
            return false;
        }
    }
    return true;
}

void appendEscapedXMLText(std::string_view utf8, std::string* out) {
    for (const char c : utf8) {
        switch (c) {
            case '&':
                out->append("&amp;");
                break;
            case '<':
                out->append("&lt;");
                break;
            case '>':
                out->append("&gt;");
                break;
            // A literal carriage return would come back as a line feed (XML line-end handling).
            case '\r':
                out->append("&#13;");
                break;
            default:
                out->push_back(c);
        }
    }
}

void appendBase64(const ZELValue::Data& data, const std::string& indent, std::string* out) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t remaining = data.size() - i;
        const uint32_t group = (uint32_t{data[i]} << 16) |
                               (remaining > 1 ? uint32_t{data[i + 1]} << 8 : 0) |
                               (remaining > 2 ? uint32_t{data[i + 2]} : 0);
        encoded.push_back(kAlphabet[(group >> 18) & 0x3F]);
        encoded.push_back(kAlphabet[(group >> 12) & 0x3F]);
        encoded.push_back(remaining > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        encoded.push_back(remaining > 2 ? kAlphabet[group & 0x3F] : '=');
    }
    for (size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
        out->append(indent);
        out->append(encoded, i, kBase64LineLength);
        out->push_back('\n');
    }
}

// Writes the XML form of a value tree; the first problem ends the walk.
class ZELPropertyListXMLWriter {
public:
    ZELPropertyListXMLWriter(std::string sourceName, std::string* out)
        : sourceName_(std::move(sourceName)), out_(out) {}

    // `depth` counts the containers around `value`.
    bool writeValue(const ZELValue& value, int depth, ZELError* outError) {
        const std::string indent(static_cast<size_t>(depth), '\t');
        switch (value.kind()) {
            case ZELValue::Kind::None:
                return fail("a none value has no property-list form", outError);
            case ZELValue::Kind::Object:
                return fail("a client object (" + value.objectValue()->className() +
                                ") has no property-list form",
                            outError);
            case ZELValue::Kind::Boolean:
                out_->append(indent).append(value.booleanValue() ? "<true/>\n" : "<false/>\n");
                return true;
            case ZELValue::Kind::Integer: {
                char digits[24];
                const auto end =
                    std::to_chars(digits, digits + sizeof digits, value.integerValue());
                out_->append(indent).append("<integer>");
                out_->append(digits, end.ptr).append("</integer>\n");
                return true;
            }
            case ZELValue::Kind::Real:
                out_->append(indent).append("<real>");
                appendReal(value.realValue());
                out_->append("</real>\n");
                return true;
            case ZELValue::Kind::String:
                out_->append(indent).append("<string>");
                if (!appendText(value.stringValue(), "string", outError)) return false;
                out_->append("</string>\n");
                return true;
            case ZELValue::Kind::Date: {
                std::string text;
                if (!ZELPropertyList_ISO8601FromDate(value.dateValue(), &text)) {
                    return fail(ZELStringWithFormat("the date %.17g lies outside the years 0000 "
                                                    "to 9999",
                                                    value.dateValue().timeIntervalSince1970),
                                outError);
                }
                out_->append(indent).append("<date>").append(text).append("</date>\n");
                return true;
            }
            case ZELValue::Kind::Data:
                if (value.dataValue().empty()) {
                    out_->append(indent).append("<data></data>\n");
                    return true;
                }
                out_->append(indent).append("<data>\n");
                appendBase64(value.dataValue(), indent, out_);
                out_->append(indent).append("</data>\n");
                return true;
            case ZELValue::Kind::Array:
                if (!checkDepth(depth, outError)) return false;
                if (value.arrayValue().empty()) {
                    out_->append(indent).append("<array/>\n");
                    return true;
                }
                out_->append(indent).append("<array>\n");
                for (const ZELValue& element : value.arrayValue()) {
                    if (!writeValue(element, depth + 1, outError)) return false;
                }
                out_->append(indent).append("</array>\n");
                return true;
            case ZELValue::Kind::Dictionary:
                if (!checkDepth(depth, outError)) return false;
                if (value.dictionaryValue().empty()) {
                    out_->append(indent).append("<dict/>\n");
                    return true;
                }
                out_->append(indent).append("<dict>\n");
                for (const auto& [key, element] : value.dictionaryValue()) {
                    out_->append(indent).append("\t<key>");
                    if (!appendText(key, "key", outError)) return false;
                    out_->append("</key>\n");
                    if (!writeValue(element, depth + 1, outError)) return false;
                }
                out_->append(indent).append("</dict>\n");
                return true;
        }
        return fail("a value of unknown kind", outError);
    }

private:
    bool fail(const std::string& problem, ZELError* outError) {
        return ZELSetError(outError, ZELPropertyList_InvalidDataError(sourceName_, problem));
    }

    bool checkDepth(int depth, ZELError* outError) {
        if (depth < ZELPropertyList::maximumNestingDepth) return true;
        return fail(ZELStringWithFormat("containers nest deeper than %d levels",
                                        ZELPropertyList::maximumNestingDepth),
                    outError);
    }

    bool appendText(const ZELString& text, const char* what, ZELError* outError) {
        const std::string utf8 = ZELStringToUTF8(text);
        std::string problem;
        if (!checkXMLCharacters(text, &problem)) {
            return fail(ZELStringWithFormat("%s %s holds %s, which XML cannot carry", what,
                                            ZELPropertyList_Excerpt(utf8).c_str(), problem.c_str()),
                        outError);
        }
        appendEscapedXMLText(utf8, out_);
        return true;
    }

    // The shortest decimal form that reads back as the same binary64 value; the infinities and
    // NaN in the words the XML reader accepts.
    void appendReal(double value) {
        if (std::isnan(value)) {
            out_->append("nan");
        } else if (std::isinf(value)) {
            out_->append(value > 0 ? "+infinity" : "-infinity");
        } else {
            char digits[32];
            const auto end = std::to_chars(digits, digits + sizeof digits, value);
            out_->append(digits, end.ptr);
        }
    }

    const std::string sourceName_;
    std::string* out_;
};

ZELError fileError(int code, const std::string& path, const char* what, int errnoValue) {
    return ZELError::errorWithZELErrorCode(
        code, ZELStringWithFormat("property list %s: %s: %s", path.c_str(), what,
                                  std::strerror(errnoValue)));
}

// A fresh file next to `path`, so that the final rename stays within one file system. Hidden,
// so that folder readers pass over it.
int createTemporaryFile(const std::string& path, std::string* outTemporaryPath) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *outTemporaryPath = ZELStringWithFormat("%s.%s.tmp-%ld-%u", folder.c_str(), base.c_str(),
                                                static_cast<long>(::getpid()), counter++);
        const int descriptor =
            ZELFileSystem::shared().open(*outTemporaryPath, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    errno = EEXIST;
    return -1;
}

// Flushes the folder entry of a rename: only then is the new file durable.
int syncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    return ZELFileSystem::shared().syncFolder(folder);
}

}  // namespace

ZELError ZELPropertyList_InvalidDataError(const std::string& sourceName,
                                          const std::string& problem) {
    const std::string reason = sourceName.empty() ? "property list: " + problem
                                                  : "property list " + sourceName + ": " + problem;
    return ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, reason);
}

std::string ZELPropertyList_Excerpt(std::string_view text) {
    constexpr size_t kMaximumCharacters = 40;
    std::string result = "\"";
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80 && characters++ == kMaximumCharacters) {
            result.append("...");
            break;
        }
        if (byte == '"' || byte == '\\') {
            result.push_back('\\');
            result.push_back(static_cast<char>(byte));
        } else if (byte < 0x20 || byte == 0x7F) {
            result.append(ZELStringWithFormat("\\x%02X", unsigned{byte}));
        } else {
            result.push_back(static_cast<char>(byte));
        }
    }
    result.push_back('"');
    return result;
}

// Dates are read and written through the decimal form of their seconds since 1970, so that
// the one rounding to binary64 happens in from_chars and a written date reads back exactly.
// A date before 1970 with a fraction, -S + 0.F, is the decimal -((S - 1) + (1 - 0.F)); the
// digits of 1 - 0.F are `complementedFraction` (F).

bool ZELPropertyList_DateFromISO8601(std::string_view text, ZELDate* outDate) {
    // YYYY-MM-DDTHH:MM:SS[.fraction]Z
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20 || !readDigits(text, 0, 4, &year) || text[4] != '-' ||
        !readDigits(text, 5, 2, &month) || text[7] != '-' || !readDigits(text, 8, 2, &day) ||
        text[10] != 'T' || !readDigits(text, 11, 2, &hour) || text[13] != ':' ||
        !readDigits(text, 14, 2, &minute) || text[16] != ':' || !readDigits(text, 17, 2, &second) ||
        text.back() != 'Z') {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    std::string_view fraction = text.substr(19, text.size() - 20);
    if (!fraction.empty()) {
        if (fraction.size() < 2 || fraction[0] != '.') return false;
        fraction.remove_prefix(1);
        for (const char c : fraction) {
            if (c < '0' || c > '9') return false;
        }
        while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    }
    const int64_t seconds =
        daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    if (fraction.empty()) {
        outDate->timeIntervalSince1970 = static_cast<double>(seconds);
        return true;
    }
    const bool negative = seconds < 0;
    const std::string decimal =
        negative ? std::to_string(-seconds - 1) + "." + complementedFraction(fraction)
                 : std::to_string(seconds) + "." + std::string(fraction);
    double magnitude = 0.0;
    const auto result = std::from_chars(decimal.data(), decimal.data() + decimal.size(), magnitude,
                                        std::chars_format::fixed);
    if (result.ptr != decimal.data() + decimal.size()) return false;
    // Only a fraction too small for binary64 is out of range: it means zero.
    if (result.ec == std::errc::result_out_of_range) magnitude = 0.0;
    outDate->timeIntervalSince1970 = negative ? -magnitude : magnitude;
    return true;
}

bool ZELPropertyList_ISO8601FromDate(ZELDate date, std::string* outText) {
    const double time = date.timeIntervalSince1970;
    if (!std::isfinite(time) || time < static_cast<double>(kFirstWritableSecond) ||
        time >= static_cast<double>(kEndOfWritableSeconds)) {
        return false;
    }
    // The shortest decimal that reads back as `time`: within the range above at most 12 digits
    // before the point and, for the tiniest values, some 1100 after it.
    char buffer[1200];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, time, std::chars_format::fixed);
    const std::string_view decimal(buffer, static_cast<size_t>(end.ptr - buffer));
    const bool negative = decimal.front() == '-';
    const size_t point = decimal.find('.');
    const std::string_view wholeDigits = decimal.substr(
        negative ? 1 : 0,
        point == std::string_view::npos ? std::string_view::npos : point - (negative ? 1 : 0));
    const std::string_view fractionDigits =
        point == std::string_view::npos ? std::string_view() : decimal.substr(point + 1);
    int64_t whole = 0;
    std::from_chars(wholeDigits.data(), wholeDigits.data() + wholeDigits.size(), whole);
    int64_t seconds = negative ? -whole : whole;
    std::string fraction(fractionDigits);
    if (negative && !fraction.empty()) {
        seconds -= 1;
        fraction = complementedFraction(fraction);
    }
    if (seconds < kFirstWritableSecond || seconds >= kEndOfWritableSeconds) return false;
    int64_t days = seconds / kSecondsPerDay;
    int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    int64_t year = 0, month = 0, day = 0;
    civilFromDays(days, &year, &month, &day);
    *outText = ZELStringWithFormat(
        "%04d-%02d-%02dT%02d:%02d:%02d", static_cast<int>(year), static_cast<int>(month),
        static_cast<int>(day), static_cast<int>(secondOfDay / 3600),
        static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    if (!fraction.empty()) outText->append(".").append(fraction);
    outText->push_back('Z');
    return true;
}

bool ZELPropertyList::readFile(const std::string& path, ZELValue* outValue, ZELError* outError) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return ZELSetError(outError, fileError(ZELErrorCodeFileAccess, path, "cannot open", errno));
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const int readErrno = errno;
            ::close(descriptor);
            return ZELSetError(outError,
                               fileError(ZELErrorCodeFileAccess, path, "cannot read", readErrno));
        }
        if (count == 0) break;
        if (bytes.size() + static_cast<size_t>(count) > kMaximumFileSize) {
            ::close(descriptor);
            return ZELSetError(
                outError,
                ZELPropertyList_InvalidDataError(
                    path, ZELStringWithFormat("file is larger than %zu bytes", kMaximumFileSize)));
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
    ::close(descriptor);
    return readData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), path, outValue,
                    outError);
}

bool ZELPropertyList::readData(const uint8_t* bytes, size_t length, const std::string& sourceName,
                               ZELValue* outValue, ZELError* outError) {
    static constexpr char kBinaryMagic[] = "bplist";
    static constexpr size_t kBinaryMagicLength = sizeof kBinaryMagic - 1;
    ZELValue value;
    bool read;
    if (length >= kBinaryMagicLength && std::memcmp(bytes, kBinaryMagic, kBinaryMagicLength) == 0) {
        if (length < 8 || bytes[6] != '0' || bytes[7] != '0') {
            return ZELSetError(
                outError, ZELPropertyList_InvalidDataError(sourceName,
                                                           "binary form of an unsupported version "
                                                           "(only \"bplist00\" is read)"));
        }
        read = ZELPropertyList_ReadBinary(bytes, length, sourceName, &value, outError);
    } else {
        read = ZELPropertyList_ReadXML(bytes, length, sourceName, &value, outError);
    }
    if (read && outValue) *outValue = std::move(value);
    return read;
}

bool ZELPropertyList::writeFile(const std::string& path, const ZELValue& value,
                                ZELError* outError) {
    std::string xml = kXMLHeader;
    ZELPropertyListXMLWriter writer(path, &xml);
    if (!writer.writeValue(value, 0, outError)) return false;
    xml.append(kXMLFooter);

    std::string temporaryPath;
    const int descriptor = createTemporaryFile(path, &temporaryPath);
    if (descriptor < 0) {
        return ZELSetError(outError, fileError(ZELErrorCodeWriteFailed, path,
                                               "cannot create a temporary file", errno));
    }
    // A replaced file keeps its permissions.
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(descriptor, existing.st_mode & 07777);
    }
    const char* failedStep = nullptr;
    int failureErrno = 0;
    ZELFileSystem& files = ZELFileSystem::shared();
    if (!ZELFileSystem::writeAll(files, descriptor, xml.data(), xml.size(), 0)) {
        failedStep = "cannot write";
        failureErrno = errno;
    } else if (files.fsync(descriptor) != 0) {
        failedStep = "cannot flush to disk";
        failureErrno = errno;
    }
    if (files.close(descriptor) != 0 && !failedStep) {
        failedStep = "cannot write";
        failureErrno = errno;
    }
    if (!failedStep && files.rename(temporaryPath, path) != 0) {
        failedStep = "cannot replace the file";
        failureErrno = errno;
    }
    if (failedStep) {
        files.unlink(temporaryPath);
        return ZELSetError(outError,
                           fileError(ZELErrorCodeWriteFailed, path, failedStep, failureErrno));
    }
    if (syncFolderOf(path) != 0) {
        return ZELSetError(outError, fileError(ZELErrorCodeWriteFailed, path,
                                               "cannot flush the folder to disk", errno));
    }
    return true;
}

bool ZELPropertyList::xmlData(const ZELValue& value, std::string* outXML, ZELError* outError) {
    std::string xml = kXMLHeader;
    ZELPropertyListXMLWriter writer(std::string(), &xml);
    if (!writer.writeValue(value, 0, outError)) return false;
    xml.append(kXMLFooter);
    if (outXML) *outXML = std::move(xml);
    return true;
}
