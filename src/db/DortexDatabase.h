// The access-control database as the program uses it: opening the
// connection at start-up (SQLDB_Connect), running statements on Query1
// (RunSQL) and importing a visitor's card (VListToDortex).
#pragma once

#include "CardImport.h"
#include "Credentials.h"
#include "DortexConnection.h"

#include <QSqlQuery>

#include <optional>
#include <string>

namespace movik {

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

    // To be called at the start of every poll cycle: while the server cannot
    // be reached, only the first statement of a cycle tries to connect.
    void beginCycle();

    // Runs one statement on Query1. For a query: true when it returned a row.
    // Otherwise true once executed. failed tells a failure from "no row";
    // a failure is logged "<SQL>" + message and closes the connection.
    bool RunSQL(const std::string& text, bool isQuery, bool& failed);

    // Imports the card: true only when the card is new and both rows were
    // written in one transaction. A start or end that is not a compact time
    // of 14 digits is refused.
    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end) override;

private:
    bool fail(const std::string& message);

    DortexConnection Database1;
    // Made afresh for each statement and finished as soon as its answer is
    // known: an open result set would hold a read lock (SQLite) or a busy
    // cursor (server) until the next statement, maybe a whole poll later.
    std::optional<QSqlQuery> Query1;
};

} // namespace movik
