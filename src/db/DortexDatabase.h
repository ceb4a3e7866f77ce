// The access-control database as the program uses it: opening the
// connection at start-up (SQLDB_Connect), running statements (RunSQL) and
// importing a visitor's card (VListToDortex). Written once over the
// connection interface; the driver backends lie below it.
#pragma once

#include "core/CardImport.h"
#include "db/DortexConnection.h"

#include <string>

namespace movik {

class DortexDatabase : public CardImport
{
public:
    DortexDatabase();
    ~DortexDatabase() override;
    DortexDatabase(const DortexDatabase&) = delete;
    DortexDatabase& operator=(const DortexDatabase&) = delete;

    // Names the connection, applies alias and credentials, and opens it.
    bool SQLDB_Connect(const std::string& appPath, std::string& error, std::string& tried) override;
    using CardImport::SQLDB_Connect;

    // While the server cannot be reached, only the first statement of a
    // cycle tries to connect, and after a failure of the connection kind the
    // cycle's further imports fail at once.
    void beginCycle() override;

    // Runs one statement. For a query: true when it returned a row.
    // Otherwise true once executed. failed tells a failure from "no row";
    // a failure is logged "<SQL>" + message and closes the connection.
    bool RunSQL(const std::string& text, bool isQuery, bool& failed);
    // The text of the last statement's failure; empty after a success.
    const std::string& lastErrorText() const { return m_lastError; }

    // Imports the card: true only when the card is new and both rows were
    // written in one transaction. A start or end that is not a compact time
    // of 14 digits, and a card that is not UTF-8, are refused.
    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end,
                       const std::function<bool()>& beforeWriting) override;
    using CardImport::VListToDortex;

    // Looks for the visit's card_validity row.
    bool findVisit(const std::string& card, const std::string& start, const std::string& end,
                   bool& failed) override;

    ImportFailure lastFailure() const override { return m_lastFailure; }
    std::string lastRefusal() const override { return m_lastRefusal; }
    std::string lastRefusalDetail() const override { return m_lastRefusalDetail; }
    DatabaseWait lastWait() const override { return m_lastWait; }
    std::string lastWaitReason() const override { return m_lastWaitReason; }

private:
    // RunSQL; with holdDataRefusal, a statement refused for its values is
    // not logged but kept for the refusal (lastRefusalDetail).
    bool runStatement(const std::string& text, bool isQuery, bool& failed, bool holdDataRefusal);
    bool fail(const std::string& text, const DbError& error, bool holdDataRefusal = false);
    bool refuse(const std::string& line);
    // The site's tables cannot take the card: nothing is logged here, the
    // poll cycle logs it once per visitor.
    bool unfit(const std::string& reason, const std::string& detail);
    bool statementFailed();
    static std::string visitRefusal(const std::string& card, const std::string& start, const std::string& end,
                                    std::string& endDay);
    bool writeRows(const std::string& quotedCard, const std::string& start, const std::string& end,
                   const std::string& startDay, const std::string& endDay);

    DortexConnection Database1;
    ImportFailure m_lastFailure = ImportFailure::None;
    std::string m_lastRefusal;
    std::string m_lastError;
    bool m_lastStatementLostConnection = false;
    bool m_lastStatementRefusedData = false;
    std::string m_lastRefusalDetail;
    DatabaseWait m_lastWait = DatabaseWait::None;
    std::string m_lastWaitReason;
    // A failure of the connection kind happened in this cycle.
    bool m_cycleLostConnection = false;
};

} // namespace movik
