// The access-control database: the connection "DX1" (Database1) under the
// alias "Morvane", the statement holder Query1, and the card import.
#pragma once

#include "CardImport.h"

#include <string>

namespace movik {

// Reads the scrambled credentials file. user and password are "NULL" unless
// the file exists and its first 1024-byte block was read.
bool ReadDbCredentials(std::string& user, std::string& password, const std::string& path);

class DortexDatabase : public CardImport
{
public:
    DortexDatabase();
    ~DortexDatabase() override;
    DortexDatabase(const DortexDatabase&) = delete;
    DortexDatabase& operator=(const DortexDatabase&) = delete;

    // Names the connection, applies alias and credentials, and opens it;
    // logs "DB Open - OK" or "DB:" + the engine's message.
    void SQLDB_Connect();

    // Runs one statement on Query1. For a query: true when it returned a row.
    // Otherwise true once executed. failed tells a failure from "no row".
    bool RunSQL(const std::string& text, bool isQuery, bool& failed);

    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end) override;
};

} // namespace movik
