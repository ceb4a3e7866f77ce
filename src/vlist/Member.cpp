#include "vlist/Member.h"

#include "core/Dates.h"
#include "core/Log.h"
#include "core/StringUtil.h"

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string_view>

namespace movik {

void StripQuotes(const std::string& text, std::string& result)
{
    std::string stripped;
    stripped.reserve(text.size());
    for (char c : text)
        if (c != '"')
            stripped += c;
    result = std::move(stripped);
}

namespace {

// The decimal digits of a date member, the first fourteen of them; the rest
// never count.
struct DateDigits
{
    explicit DateDigits(std::string_view text)
    {
        for (char c : text) {
            if (c >= '0' && c <= '9') {
                digit[count++] = static_cast<char>(c - '0');
                if (count == sizeof digit)
                    break;
            }
        }
    }

    // Digits [first, first + length), as many as exist, read as a number;
    // an empty piece is no number.
    int piece(std::size_t first, std::size_t length) const
    {
        if (first >= count)
            throw std::invalid_argument("'' is not a valid integer value");
        int value = 0;
        for (std::size_t i = first; i < count && i < first + length; ++i)
            value = value * 10 + digit[i];
        return value;
    }

    char digit[14] = {};
    std::size_t count = 0;
};

// Writes value as width decimal digits (more when it needs them) at out;
// returns the end of what was written.
char* putNumber(char* out, std::int64_t value, int width)
{
    char reversed[20];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n < width)
        reversed[n++] = '0';
    while (n > 0)
        *out++ = reversed[--n];
    return out;
}

// The compact time eight hours after the date in digits; throws with the
// conversion's message when the digits hold no valid date and time.
void shiftedCompactTime(const DateDigits& d, std::string& result)
{
    // Seconds first: a short text fails on the seconds.
    int second = d.piece(12, 2);
    int minute = d.piece(10, 2);
    int hour = d.piece(8, 2);
    if (hour > 23 || minute > 59 || second > 59)
        throw std::invalid_argument("Invalid argument to time encode");
    int day = d.piece(6, 2);
    int month = d.piece(4, 2);
    int year = d.piece(0, 4);
    if (!isValidDate(year, month, day))
        throw std::invalid_argument("Invalid argument to date encode");

    // The access-control database keeps its visit times eight hours ahead of
    // the service's. The shift is a fixed amount rather than the machine's
    // time zone, so a card's times do not depend on how the machine is set up
    // or on daylight saving. Whole seconds, so nothing is lost to rounding.
    std::int64_t seconds =
        (daysFromCivil(year, month, day) * 86400) + hour * 3600 + minute * 60 + second + 8 * 3600;
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    std::int64_t ofDay = seconds - days * 86400;
    CivilDate date = civilFromDays(days);
    // Formatted by hand: a formatted print here was a quarter of the
    // decoding time of a long list.
    char out[24];
    char* end = putNumber(out, date.year, 4);
    end = putNumber(end, date.month, 2);
    end = putNumber(end, date.day, 2);
    end = putNumber(end, ofDay / 3600, 2);
    end = putNumber(end, ofDay / 60 % 60, 2);
    end = putNumber(end, ofDay % 60, 2);
    result.assign(out, end);
}

void convertDate(std::string_view text, std::string& result)
{
    try {
        shiftedCompactTime(DateDigits(text), result);
    } catch (const std::exception& e) {
        result.clear();
        WriteLog(LogAlways, std::string("<Conv>") + e.what());
    }
}

// The text between the quotes of value when value is one JSON string and
// nothing else: a quote opens it, and its first quote not escaped by a
// backslash closes it and ends value.
bool quotedText(std::string_view value, std::string_view& inner)
{
    if (value.size() < 2 || value.front() != '"')
        return false;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '\\') {
            ++i;
        } else if (value[i] == '"') {
            if (i + 1 != value.size())
                return false;
            inner = value.substr(1, i - 1);
            return true;
        }
    }
    return false;
}

// The four hex digits of a \u escape starting at text[at]; -1 when they are
// not four hex digits.
long hexUnit(std::string_view text, std::size_t at)
{
    if (at + 4 > text.size())
        return -1;
    long unit = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        int v = hexDigitValue(text[i]);
        if (v < 0)
            return -1;
        unit = unit * 16 + v;
    }
    return unit;
}

// JSON's escapes beyond the shared four; \u escapes become UTF-8, a
// surrogate pair one character. False at a surrogate without its pair.
bool decodeJsonEscape(std::string_view text, std::size_t& i, std::string& out)
{
    switch (text[i]) {
    case '"':
    case '/':
        out += text[i];
        return true;
    case 'b':
        out += '\b';
        return true;
    case 'f':
        out += '\f';
        return true;
    case 'u':
        break;
    default:
        return false;
    }
    long unit = hexUnit(text, i + 1);
    if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
        return false;
    i += 4;
    unsigned long code = static_cast<unsigned long>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        long low =
            i + 2 < text.size() && text[i + 1] == '\\' && text[i + 2] == 'u' ? hexUnit(text, i + 3) : -1;
        if (low < 0xDC00 || low > 0xDFFF)
            return false;
        i += 6;
        code = 0x10000 + ((code - 0xD800) << 10) + static_cast<unsigned long>(low - 0xDC00);
    }
    appendUtf8(out, code);
    return true;
}

// The text of a JSON string with its escapes decoded; other bytes are kept
// as they are. False at an escape JSON does not have.
bool decodeJsonText(std::string_view text, std::string& out)
{
    return decodeEscapes(text, out, decodeJsonEscape);
}

} // namespace

void ConvDateTime(const std::string& text, std::string& result)
{
    // The digits are taken before result is written: result may be text.
    convertDate(text, result);
}

bool PackField(const std::string& raw, VisitorRecord& record)
{
    try {
        const std::string_view text(raw);
        const std::size_t colon = text.find(':');
        const std::string_view key =
            colon == std::string_view::npos ? std::string_view() : text.substr(0, colon);
        const std::string_view value = colon == std::string_view::npos ? text : text.substr(colon + 1);
        std::string result;
        if (text.find("Id") == std::string_view::npos && text.find("Card") == std::string_view::npos) {
            // Only the digits of a date count, so its quotes need no removing.
            convertDate(value, result);
        } else if (std::string_view inner; !quotedText(value, inner)) {
            StripQuotes(std::string(value), result);
        } else if (key.find("Card") != std::string_view::npos && key.find("Id") == std::string_view::npos) {
            // The card number goes to the database as the characters it
            // stands for; the identifier goes back to the service as sent.
            if (!decodeJsonText(inner, result)) {
                WriteLog(LogAlways, "<Pack>Invalid escape in card number \"" + std::string(inner) + "\"");
                record.emplace_back();
                return false;
            }
        } else {
            result.assign(inner);
        }
        record.push_back(std::move(result));
        return true;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Pack>") + e.what());
    }
    return false;
}

} // namespace movik
