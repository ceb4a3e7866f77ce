// The visitor list: cutting the poll's answer into visitor records, and
// telling a record the access-control system could not hold. Text in,
// records out; what happens to a record is the poll cycle's business.
#pragma once

#include "Member.h"

#include <cstddef>
#include <functional>
#include <string>

namespace movik {

// The longest card number a visitor may carry; no access-control card number
// comes near it.
constexpr std::size_t MaxCardBytes = 255;

// Cuts an answer into visitor records and hands each one to handle as its
// object closes. After each record, goOn (when given) decides whether the
// scan goes on. The scan is linear in the size of the answer.
void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle,
                        const std::function<bool()>& goOn = {});

// Why a complete record (four values or more) cannot be imported: a card
// made of nothing, one no card number comes near (a control character, a
// backslash, bytes that are no text, a length far beyond any card), or a visit that
// ends before it starts. Empty when it can.
std::string visitorRefusal(const VisitorRecord& record);

// Control bytes of a service's value shown as \xHH, so a log line stays one
// line.
std::string printable(const std::string& text);

} // namespace movik
