// Judging the poll's answer before anything in it is trusted: the service
// answers a visitor list, but a wrong address, token or proxy gives an error
// object, an HTML page or plain text in the same file, and the scanner would
// cut those into records as readily as a list.
#pragma once

#include <cstddef>
#include <string>

namespace movik {

// True when the answer is a visitor list: after a UTF-8 byte-order mark and
// leading blanks (space, tab, carriage return, line feed) its first character
// is "[", or nothing is left (an empty answer is an empty list).
bool isVisitorList(const std::string& answer);

// The start of an answer for the log: its first limit characters after the
// byte-order mark and leading blanks, control characters written visibly
// ("\n", "\r", "\t", "\xHH") so the excerpt stays on one line. "(empty)" for
// an answer with nothing in it.
std::string answerExcerpt(const std::string& answer, std::size_t limit = 80);

} // namespace movik
