// "movik.status" in the program directory: what a monitor needs to know
// about the running program, rewritten after every poll cycle. Its age
// tells whether the program still cycles; its lines tell how the last
// cycle went.
#pragma once

#include <cstdint>
#include <string>

namespace movik {

// What a failure needs before it can go away: nothing known (Other), a
// person (a refused token or certificate, a wrong address: no poll can
// succeed until someone acts), or only time (a busy service, a handshake
// that failed for a moment).
enum class FailureClass { None, NeedsAction, Busy, Other };

// "none", "action", "busy", "other": the status file's words.
const char* failureClassWord(FailureClass kind);

// How the last poll went: none yet, answered, failed, or the program stopped.
enum class PollState { None, Ok, Failed, Stopped };
// How the access-control database was found last: not tried yet, reachable,
// out of reach, a table another session held locked, a statement out of time.
enum class DatabaseState { Unknown, Reachable, Unreachable, Locked, Slow };
// The journal and the log: usable, or failed while they cannot be used.
enum class UseState { Ok, Failed };
// The program directory: trusted, or refused while others may change it.
enum class DirectoryState { Ok, Refused };

// The status file's words for each state ("none", "ok", "locked", ...).
const char* stateWord(PollState state);
const char* stateWord(DatabaseState state);
const char* stateWord(UseState state);
const char* stateWord(DirectoryState state);

struct StatusRecord
{
    std::int64_t cycleTime = 0; // end of the last cycle, seconds since 1970 (UTC)
    PollState poll = PollState::None;
    std::string pollReason;                        // why the last poll failed; empty when it did not
    FailureClass pollFailure = FailureClass::None; // what that failure needs
    std::int64_t pollFailingSince = 0;             // since when polls fail without a success between, seconds
                                                   // since 1970 (UTC); 0 while they work
    std::int64_t pollRetryUntil = 0; // the service asked not to be polled before then; 0: it did not
    DatabaseState database = DatabaseState::Unknown;
    std::string databaseReason;            // why it is not reachable, locked or slow
    std::int64_t databaseFailingSince = 0; // since when it has failed without working between; 0: it works
    std::int64_t databaseChecked = 0;      // when that was last seen, seconds since 1970 (UTC); 0: never
    std::int64_t imports = 0;              // visitors imported since start
    std::int64_t importFailures = 0;       // imports that failed since start (database failures)
    std::int64_t pollFailures = 0;         // cycles whose poll failed since start
    UseState journal = UseState::Ok;       // while the journal cannot be used
    std::string journalReason;             // why
    UseState log = UseState::Ok;           // while MOVIK.log cannot be written
    std::string logReason;                 // why
    DirectoryState directory = DirectoryState::Ok;
    std::string directoryReason; // why
    std::int64_t stuck = 0;      // visitors of the last list that stay queued for their own sake
    std::int64_t stuckSince = 0; // since when at least one has, seconds since 1970 (UTC); 0: none
    std::string stuckReason;     // the one stuck longest, and why
    bool automaticPoll = false;  // "Automatic Poll" was ticked at the last tick
    std::string version;
    std::string processId;
};

constexpr const char* StatusFileName = "movik.status";

// The file's lines: key=value, one per line ended by a line feed, values on
// one line (control characters written visibly).
std::string statusFileText(const StatusRecord& record);

// Writes the record whole to a temporary file and renames it over path, so
// a reader never sees half a file. Readable by others (a monitoring user).
// Not flushed to the disk: it is written anew every few seconds, and a
// power cut loses nothing a monitor needs. False with the failure's text in
// error.
bool writeStatusFile(const std::string& path, const StatusRecord& record, std::string& error);

// Seconds since 1970 as "yyyy-mm-ddThh:mm:ssZ".
std::string utcTimestamp(std::int64_t seconds);
// The other way round; false for any other text.
bool readUtcTimestamp(const std::string& text, std::int64_t& seconds);

} // namespace movik
