// The visitor list: cutting the poll's answer into visitor records, and
// telling a record the access-control system could not hold. Text in,
// records out; what happens to a record is the poll cycle's business.
#pragma once

#include "vlist/Member.h"

#include <cstddef>
#include <functional>
#include <string>

namespace movik {

// The longest card number a visitor may carry; no access-control card number
// comes near it.
constexpr std::size_t MaxCardBytes = 255;

// What the scanner hands on as an object closes: its record, and the raw
// text of the first member whose value failed (empty when none did), which
// makes the whole record untrustworthy.
using RecordHandler = std::function<void(const VisitorRecord& record, const std::string& failedMember)>;

// Cuts an answer into visitor records and hands each one to handle as its
// object closes. After each record, goOn (when given) decides whether the
// scan goes on. The scan is linear in the size of the answer.
void scanVisitorRecords(const std::string& text, const RecordHandler& handle,
                        const std::function<bool()>& goOn = {});
// The same, for a reader that only counts or looks at the records.
void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle,
                        const std::function<bool()>& goOn = {});

// A complete record (four values or more) by name: the identifier as the
// service sent it (it goes back in the acknowledgement), the visit's start
// and end as compact times, and the card.
struct Visitor
{
    std::string id;
    std::string start;
    std::string end;
    std::string card;
};

// The visitor of a record of at least four values; the values after the
// fourth are not the visitor's.
Visitor visitorOf(const VisitorRecord& record);

// Why a visitor cannot be imported: a card made of nothing, one no card
// number comes near (a control character, a backslash, bytes that are no
// text, a length far beyond any card), or a visit that ends before it
// starts. Empty when it can.
std::string visitorRefusal(const Visitor& visitor);

// Control bytes of a service's value shown as \xHH, so a log line stays one
// line.
std::string printable(const std::string& text);

} // namespace movik
