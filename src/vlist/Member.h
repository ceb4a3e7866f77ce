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

// Appends the value of one raw member text to record: the text after the
// first colon without double quotes, kept as it is when the raw text holds
// "Id" or "Card", otherwise converted by ConvDateTime.
void PackField(const std::string& raw, VisitorRecord& record);

// result is text with every double quote removed.
void StripQuotes(const std::string& text, std::string& result);

// result is the compact time "yyyymmddhhmmss" eight hours after the date and
// time in the digits of text, or empty (logged as "<Conv>" + message) when
// they hold none.
void ConvDateTime(const std::string& text, std::string& result);

} // namespace movik
