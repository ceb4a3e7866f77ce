// Member values of the visitor list: turning the raw text of one object
// member into the value kept in the visitor record, and whole-file reading
// of the service's answers.
#pragma once

#include <string>
#include <vector>

namespace movik {

// The member values of one visitor object, in order of appearance.
using VisitorRecord = std::vector<std::string>;

// Reads a whole answer file by the text-file line rule. False when the file
// is missing (text empty) or cannot be opened or read to its end (logged as
// "<GetRes>" + message; text holds the lines read before the failure).
bool GetResult(const std::string& path, std::string& text);

// Appends the value of one raw member text to record, from the text after
// the first colon. A raw text without "Id" or "Card" is a date, converted by
// ConvDateTime. Otherwise a value that is one JSON string gives the text
// between its quotes: as it stands (escapes included) for the identifier,
// with its escapes decoded (\uXXXX to UTF-8) when the key holds "Card" and
// not "Id"; a card with an escape JSON does not have gives an empty value
// (logged as "<Pack>" + message). Any other value loses its double quotes.
void PackField(const std::string& raw, VisitorRecord& record);

// result is text with every double quote removed.
void StripQuotes(const std::string& text, std::string& result);

// result is the compact time "yyyymmddhhmmss" eight hours after the date and
// time in the digits of text, or empty (logged as "<Conv>" + message) when
// they hold none.
void ConvDateTime(const std::string& text, std::string& result);

} // namespace movik
