#include "Member.h"

#include "Dates.h"
#include "Log.h"
#include "Platform.h"
#include "TextFile.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace movik {

bool GetResult(const std::string& path, std::string& text)
{
    text.clear();
    try {
        if (!platform::fileExists(path))
            return false;
        std::string error;
        if (!readTextFile(path, text, error)) {
            WriteLog(LogAlways, "<GetRes>" + error);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<GetRes>") + e.what());
        return false;
    }
}

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

// Characters [first, first + count) of the digits, as many as exist, read
// as a number; an empty piece is no number.
int readPiece(const std::string& digits, std::size_t first, std::size_t count)
{
    std::string piece = first < digits.size() ? digits.substr(first, count) : std::string();
    if (piece.empty())
        throw std::invalid_argument("'" + piece + "' is not a valid integer value");
    return std::stoi(piece);
}

} // namespace

void ConvDateTime(const std::string& text, std::string& result)
{
    const std::string source = text; // result may be text itself
    result.clear();
    try {
        std::string d;
        for (char c : source)
            if (c >= '0' && c <= '9')
                d += c;
        // Seconds first: a short text fails on the seconds.
        int second = readPiece(d, 12, 2);
        int minute = readPiece(d, 10, 2);
        int hour = readPiece(d, 8, 2);
        if (hour > 23 || minute > 59 || second > 59)
            throw std::invalid_argument("Invalid argument to time encode");
        int day = readPiece(d, 6, 2);
        int month = readPiece(d, 4, 2);
        int year = readPiece(d, 0, 4);
        if (!isValidDate(year, month, day))
            throw std::invalid_argument("Invalid argument to date encode");

        // Eight hours later, in whole seconds so nothing is lost to rounding.
        std::int64_t seconds =
            (daysFromCivil(year, month, day) * 86400) + hour * 3600 + minute * 60 + second + 8 * 3600;
        std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
        std::int64_t ofDay = seconds - days * 86400;
        CivilDate date = civilFromDays(days);
        char out[80];
        std::snprintf(out, sizeof out, "%04d%02d%02d%02d%02d%02d", date.year, date.month, date.day,
                      static_cast<int>(ofDay / 3600), static_cast<int>(ofDay / 60 % 60),
                      static_cast<int>(ofDay % 60));
        result = out;
    } catch (const std::exception& e) {
        result.clear();
        WriteLog(LogAlways, std::string("<Conv>") + e.what());
    }
}

void PackField(const std::string& raw, VisitorRecord& record)
{
    try {
        std::size_t colon = raw.find(':');
        std::string value = colon == std::string::npos ? raw : raw.substr(colon + 1);
        StripQuotes(value, value);
        if (raw.find("Id") == std::string::npos && raw.find("Card") == std::string::npos)
            ConvDateTime(value, value);
        record.push_back(std::move(value));
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Pack>") + e.what());
    }
}

} // namespace movik
