// The visitor list decoder: reads the poll answer, cuts it into visitor
// records, imports each complete one and acknowledges it.
#pragma once

#include <string>

namespace movik {

class CardImport;

// Cuts an answer into visitor records and handles each one: import, then
// acknowledge. The scan is linear in the size of the answer.
void scanVisitorList(const std::string& text, CardImport& importer);

// Waits PollWaitMSec, reads path whole and handles every visitor in it.
void DecodeVListFromFile(const std::string& path, CardImport& importer);

} // namespace movik
