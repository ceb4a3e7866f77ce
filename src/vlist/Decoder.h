// The visitor list decoder: reads the poll answer, cuts it into visitor
// records, imports each complete one and acknowledges it.
#pragma once

#include "Member.h"

#include <functional>
#include <string>

namespace movik {

class CardImport;

// Cuts an answer into visitor records and hands each one to handle as its
// object closes. The scan is linear in the size of the answer.
void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle);

// Cuts an answer into visitor records and handles each one: import, then
// acknowledge. Without importAllowed (an answer that is not a visitor list)
// records are only shown. False when an import failed for the database's
// sake.
bool scanVisitorList(const std::string& text, CardImport& importer, bool importAllowed = true);

// Waits PollWaitMSec, reads path whole and handles every visitor in it.
void DecodeVListFromFile(const std::string& path, CardImport& importer);

} // namespace movik
