// The visitor list decoder: reads the poll answer, cuts it into visitor
// records, imports each complete one and acknowledges it.
#pragma once

#include "Member.h"

#include <cstddef>
#include <functional>
#include <string>

namespace movik {

class CardImport;

// The longest card number a visitor may carry; no access-control card number
// comes near it.
constexpr std::size_t MaxCardBytes = 255;

// Cuts an answer into visitor records and hands each one to handle as its
// object closes. After each record, goOn (when given) decides whether the
// scan goes on. The scan is linear in the size of the answer.
void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle,
                        const std::function<bool()>& goOn = {});

// How handling a list went.
struct ListResult
{
    bool databaseFailed = false; // an import failed for the database's sake
    bool stopped = false;        // a stop request ended it after a visitor; the rest stays queued
};

// Cuts an answer into visitor records and handles each one: import, then
// acknowledge. Without importAllowed (an answer that is not a visitor list)
// records are only shown. Between visitors the operator display is asked
// whether to go on.
ListResult scanVisitorList(const std::string& text, CardImport& importer, bool importAllowed = true);

// Waits PollWaitMSec, reads path whole and handles every visitor in it.
void DecodeVListFromFile(const std::string& path, CardImport& importer);

} // namespace movik
