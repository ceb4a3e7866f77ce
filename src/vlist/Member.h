// Member values of the visitor list: turning the raw text of one object
// member into the value kept in the visitor record.
#pragma once

#include <string>
#include <vector>

namespace movik {

// The member values of one visitor object, in order of appearance.
using VisitorRecord = std::vector<std::string>;

// Appends the value of one raw member text to record, from the text after
// the first colon. A raw text without "Id" or "Card" is a date, converted by
// ConvDateTime. Otherwise a value that is one JSON string gives the text
// between its quotes: as it stands (escapes included) for the identifier,
// with its escapes decoded (\uXXXX to UTF-8) when the key holds "Card" and
// not "Id"; a card with an escape JSON does not have gives an empty value
// (logged as "<Pack>" + message). Any other value loses its double quotes.
// False when the member failed so (logged as "<Pack>" + message): its record
// cannot be trusted whole, since the values after it may not stand where
// they belong.
bool PackField(const std::string& raw, VisitorRecord& record);

// result is text with every double quote removed.
void StripQuotes(const std::string& text, std::string& result);

// result is the compact time "yyyymmddhhmmss" eight hours after the date and
// time in the digits of text, or empty (logged as "<Conv>" + message) when
// they hold none.
void ConvDateTime(const std::string& text, std::string& result);

} // namespace movik
