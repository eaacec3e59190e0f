#include "ZELChangelogReader.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "ZELJSON.h"

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` is `lowercase` in any case of ASCII letters.
bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
    if (text.size() != lowercase.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i]) != lowercase[i]) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool isBlankLine(std::string_view line) {
    return trimmed(line).empty();
}

// Moves `*position` past blanks; true when there was at least one.
bool skipBlanks(std::string_view text, size_t* position) {
    const size_t start = *position;
    while (*position < text.size() && isBlank(text[*position])) ++*position;
    return *position > start;
}

// Reads 1 to `maximumDigits` digits.
bool readNumber(std::string_view text, size_t* position, size_t maximumDigits, int* outValue) {
    int value = 0;
    size_t count = 0;
    while (*position < text.size() && isAsciiDigit(text[*position]) && count < maximumDigits) {
        value = value * 10 + (text[*position] - '0');
        ++*position;
        ++count;
    }
    *outValue = value;
    return count > 0 && !(*position < text.size() && isAsciiDigit(text[*position]));
}

// The fields of a heading line, "package (version) distributions; urgency=medium, ...".
struct Heading {
    std::string_view package;
    std::string_view version;
    std::string_view distribution;
    std::string_view urgency;  // empty when the heading names none
};

// A heading starts at the first column with a letter or digit, so that body lines (indented)
// and trailers never read as one.
std::optional<Heading> readHeading(std::string_view line) {
    Heading heading;
    size_t position = 0;
    while (position < line.size() &&
           (isAsciiLetter(line[position]) || isAsciiDigit(line[position]) ||
            (position > 0 &&
             (line[position] == '+' || line[position] == '-' || line[position] == '.')))) {
        ++position;
    }
    if (position == 0) return std::nullopt;
    heading.package = line.substr(0, position);
    if (!skipBlanks(line, &position) || position >= line.size() || line[position] != '(')
        return std::nullopt;
    const size_t close = line.find(')', ++position);
    if (close == std::string_view::npos) return std::nullopt;
    heading.version = line.substr(position, close - position);
    if (heading.version.empty() || heading.version.find_first_of(" \t(") != std::string_view::npos)
        return std::nullopt;
    const size_t semicolon = line.find(';', close + 1);
    if (semicolon == std::string_view::npos) return std::nullopt;
    heading.distribution = trimmed(line.substr(close + 1, semicolon - close - 1));
    if (heading.distribution.empty()) return std::nullopt;
    // "key=value" pairs separated by commas; keys compare without case.
    std::string_view pairs = line.substr(semicolon + 1);
    while (!pairs.empty()) {
        const size_t comma = pairs.find(',');
        const std::string_view pair = trimmed(pairs.substr(0, comma));
        pairs = comma == std::string_view::npos ? std::string_view() : pairs.substr(comma + 1);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) continue;
        if (!equalsIgnoringCase(trimmed(pair.substr(0, equals)), "urgency")) continue;
        const std::string_view value = trimmed(pair.substr(equals + 1));
        heading.urgency = value.substr(0, value.find_first_of(" \t"));
    }
    return heading;
}

// The fields of a trailer line, " -- Name <e-mail>  date".
struct Trailer {
    std::string_view name;
    std::string_view email;
    std::string_view date;
};

constexpr std::string_view kTrailerStart = " -- ";

bool isTrailer(std::string_view line) {
    return line.substr(0, kTrailerStart.size()) == kTrailerStart;
}

// None when the trailer has no "<e-mail>".
std::optional<Trailer> readTrailer(std::string_view line) {
    const std::string_view rest = line.substr(kTrailerStart.size());
    const size_t close = rest.rfind('>');
    const size_t open = close == std::string_view::npos ? close : rest.rfind('<', close);
    if (open == std::string_view::npos) return std::nullopt;
    return Trailer{trimmed(rest.substr(0, open)), trimmed(rest.substr(open + 1, close - open - 1)),
                   trimmed(rest.substr(close + 1))};
}

// The entry being read: its heading and body so far.
class OpenEntry {
public:
    bool isOpen() const { return isOpen_; }

    void open(const Heading& heading) {
        isOpen_ = true;
        heading_ = heading;
        body_.clear();
        contentEnd_ = 0;
    }
    void close() { isOpen_ = false; }

    // Leading blank lines are dropped here, trailing ones when the record is made.
    void addBodyLine(std::string_view line) {
        const bool blank = isBlankLine(line);
        if (body_.empty() && blank) return;
        body_.append(line);
        if (!blank) contentEnd_ = body_.size();
        body_.push_back('\n');
    }

    ZELValue::Dictionary record(const Trailer& trailer, ZELChangelogReadStats& stats) {
        ZELValue::Dictionary values{
            {u"package", ZELValue::fromUTF8(heading_.package)},
            {u"version", ZELValue::fromUTF8(heading_.version)},
            {u"distribution", ZELValue::fromUTF8(heading_.distribution)},
            {u"authorName", ZELValue::fromUTF8(trailer.name)},
            {u"authorEmail", ZELValue::fromUTF8(trailer.email)},
            {u"body", ZELValue::fromUTF8(std::string_view(body_).substr(0, contentEnd_))},
        };
        if (!heading_.urgency.empty())
            values.emplace(u"urgency", ZELValue::fromUTF8(heading_.urgency));
        if (std::optional<ZELDate> date = ZELReadChangelogDate(trailer.date)) {
            values.emplace(u"date", ZELValue(*date));
        } else {
            ++stats.undatedEntries;
        }
        return values;
    }

private:
    bool isOpen_ = false;
    Heading heading_;
    std::string body_;
    size_t contentEnd_ = 0;  // the body without its trailing blank lines
};

// Inflates gzip data (one member or several in a row); none with the reason on failure.
std::optional<std::string> gunzip(const std::string& bytes, std::string* outProblem) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {  // 16: expect the gzip wrapper
        *outProblem = "cannot start decompressing";
        return std::nullopt;
    }
    struct Ender {
        z_stream* stream;
        ~Ender() { inflateEnd(stream); }
    } ender{&stream};
    // The file was refused before reading when larger than the limit, so its size fits uInt.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::string text;
    std::array<char, 1 << 16> buffer;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        text.append(buffer.data(), buffer.size() - stream.avail_out);
        if (text.size() > ZELChangelogMaximumTextBytes) {
            *outProblem = "decompresses to more than the limit of " +
                          std::to_string(ZELChangelogMaximumTextBytes >> 20) + " MiB";
            return std::nullopt;
        }
        if (result == Z_STREAM_END) {
            if (stream.avail_in == 0) return text;
            inflateReset(&stream);  // another member follows
        } else if (result == Z_BUF_ERROR) {
            *outProblem = "the compressed data ends early";
            return std::nullopt;
        } else if (result != Z_OK) {
            *outProblem = std::string("damaged compressed data (") +
                          (stream.msg ? stream.msg : zError(result)) + ")";
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<ZELDate> ZELReadChangelogDate(std::string_view text) {
    size_t position = 0;
    skipBlanks(text, &position);
    // The weekday is not checked against the date.
    if (position < text.size() && isAsciiLetter(text[position])) {
        while (position < text.size() && isAsciiLetter(text[position])) ++position;
        if (position >= text.size() || text[position] != ',') return std::nullopt;
        ++position;
        skipBlanks(text, &position);
    }
    int day = 0;
    if (!readNumber(text, &position, 2, &day) || !skipBlanks(text, &position)) return std::nullopt;

    // "Jun", or a longer name that begins so ("June").
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    const size_t monthStart = position;
    while (position < text.size() && isAsciiLetter(text[position])) ++position;
    int month = 0;
    for (int index = 0; index < 12 && month == 0 && position - monthStart >= 3; ++index) {
        if (equalsIgnoringCase(text.substr(monthStart, 3), kMonths[index])) month = index + 1;
    }
    if (month == 0 || !skipBlanks(text, &position)) return std::nullopt;

    int year = 0, hour = 0, minute = 0, second = 0;
    if (!readNumber(text, &position, 4, &year) || year < 1000 || !skipBlanks(text, &position))
        return std::nullopt;
    if (!readNumber(text, &position, 2, &hour) || position >= text.size() ||
        text[position++] != ':' || !readNumber(text, &position, 2, &minute)) {
        return std::nullopt;
    }
    if (position < text.size() && text[position] == ':') {
        ++position;
        if (!readNumber(text, &position, 2, &second)) return std::nullopt;
    }
    skipBlanks(text, &position);

    // "+HHMM" or "-HHMM"; "GMT", "UTC" and "UT" stand for "+0000".
    char sign = '+';
    int zone = 0;
    const std::string_view rest = text.substr(position);
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        sign = rest[0];
        size_t zoneEnd = position + 1;
        if (!readNumber(text, &zoneEnd, 4, &zone) || zoneEnd - position != 5) return std::nullopt;
    } else if (rest.substr(0, 3) != "GMT" && rest.substr(0, 2) != "UT") {
        return std::nullopt;
    }
    // The ISO 8601 reader checks the ranges of every field.
    char iso[48];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, month, day,
                  hour, minute, second, sign, zone / 100, zone % 100);
    return ZELJSON_DateFromISO8601(iso);
}

std::vector<ZELValue::Dictionary> ZELReadChangelogEntries(std::string_view text,
                                                          ZELChangelogReadStats* stats) {
    ZELChangelogReadStats counts;
    std::vector<ZELValue::Dictionary> records;
    OpenEntry entry;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (isTrailer(line)) {
            const std::optional<Trailer> trailer = readTrailer(line);
            if (entry.isOpen() && trailer) {
                records.push_back(entry.record(*trailer, counts));
            } else {
                ++counts.skippedEntries;
            }
            entry.close();
        } else if (std::optional<Heading> heading = readHeading(line)) {
            if (entry.isOpen()) ++counts.skippedEntries;
            entry.open(*heading);
        } else if (entry.isOpen()) {
            entry.addBodyLine(line);
        }
    }
    if (entry.isOpen()) ++counts.skippedEntries;
    counts.entries = records.size();
    if (stats) {
        stats->entries += counts.entries;
        stats->skippedEntries += counts.skippedEntries;
        stats->undatedEntries += counts.undatedEntries;
    }
    return records;
}

std::optional<std::string> ZELReadChangelogText(const std::string& path, std::string* outMessage) {
    // Read to the end rather than by the file's size, so that pipes work too.
    std::ifstream file(path, std::ios::binary);
    std::string bytes;
    std::array<char, 1 << 16> buffer;
    while (file && bytes.size() <= ZELChangelogMaximumTextBytes) {
        file.read(buffer.data(), buffer.size());
        bytes.append(buffer.data(), static_cast<size_t>(file.gcount()));
    }
    if (bytes.size() > ZELChangelogMaximumTextBytes) {
        *outMessage = path + ": larger than the limit of " +
                      std::to_string(ZELChangelogMaximumTextBytes >> 20) + " MiB";
        return std::nullopt;
    }
    if (!file.eof() || file.bad()) {
        *outMessage = path + ": cannot read the file";
        return std::nullopt;
    }
    if (bytes.size() < 2 || bytes[0] != '\x1f' || bytes[1] != '\x8b') return bytes;
    std::string problem;
    std::optional<std::string> text = gunzip(bytes, &problem);
    if (!text) *outMessage = path + ": " + problem;
    return text;
}

std::optional<std::vector<ZELValue::Dictionary>> ZELReadChangelogFile(const std::string& path,
                                                                      ZELChangelogReadStats* stats,
                                                                      std::string* outMessage) {
    std::optional<std::string> text = ZELReadChangelogText(path, outMessage);
    if (!text) return std::nullopt;
    return ZELReadChangelogEntries(*text, stats);
}
