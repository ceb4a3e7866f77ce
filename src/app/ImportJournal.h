// The import journal "movik.journal": the visitors this program directory
// has written to the access-control database, so that a visitor the service
// sends again (its acknowledgement lost, refused, or listed once more after
// "Deleted") is acknowledged again but never imported twice.
//
// The file only grows between compactions: each change of a visitor's state
// is one whole line appended, and the last line of a visitor counts. A
// visitor's entry is written as pending, on the disk, before its rows are
// committed, and marked imported after; a crash in between leaves the
// pending line, and the rows themselves then tell whether the import went
// through. The file is written anew, with the live entries only, when it is
// read and when it has grown to twice their number.
#pragma once

#include "Dates.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace movik {

enum class JournalState {
    Pending,      // "p": about to be committed; after a crash, the rows tell
    Imported,     // "0": committed, not yet acknowledged
    Acknowledged, // "1": the service accepted the acknowledgement
    Removed,      // "-": the import failed; the entry is gone
};

struct JournalEntry
{
    std::string id;
    std::string card;
    std::string start;
    std::string end;
    JournalState state = JournalState::Imported;
    // When the entry reached its state or, while not acknowledged, when the
    // service last listed its visitor: seconds since 1970-01-01 UTC.
    std::int64_t time = 0;
};

class ImportJournal
{
public:
    static constexpr const char* fileName = "movik.journal";
    // An entry is kept this long after its time, then dropped.
    static constexpr std::int64_t keepSeconds = 30 * 24 * 60 * 60;
    // The time of an entry whose state does not change moves on with the
    // visitor's listing at most this often, so a visitor the service keeps
    // listing costs one line a day, not one a poll.
    static constexpr std::int64_t relistSeconds = 24 * 60 * 60;
    // A file of fewer lines is never compacted while the program runs.
    static constexpr std::size_t compactionFloor = 4096;

    explicit ImportJournal(SecondsClock clock = secondsNow);

    // Reads the journal at path, replacing what is held, and compacts the
    // file when it holds more lines than live entries. A missing file is an
    // empty journal. Lines that cannot be read are skipped and counted in
    // skipped; they are gone once the file is compacted. False with a message
    // in error when the file exists but cannot be read, or is not the
    // program's own (another user's, a link, one others may write): nothing
    // is then held and nothing is written until a load succeeds.
    bool load(const std::string& path, std::size_t& skipped, std::string& error);
    bool isLoaded() const { return m_loaded; }
    const std::string& path() const { return m_path; }

    // The live entry of this visitor and visit; null when there is none.
    const JournalEntry* find(const std::string& id, const std::string& card, const std::string& start,
                             const std::string& end) const;

    // Records the visitor's new state: one line appended, on the disk before
    // return for Pending (the caller commits after it), handed to the
    // operating system for the others. A state the entry already has only
    // refreshes its time, once a day at most. Removed drops the entry. The
    // change is held even when the write fails (false, with error), so this
    // process still knows it. A file that is no longer the program's own is
    // never written again.
    bool record(const std::string& id, const std::string& card, const std::string& start,
                const std::string& end, JournalState state, std::string& error);

    // Writes the file anew with the live entries only.
    bool compact(std::string& error);

    // The live entries, oldest first.
    std::vector<JournalEntry> entries() const;
    // Lines in the file since it was last written whole, the header left out.
    std::size_t fileLines() const { return m_fileLines; }

    // The file's text: its header, then one line per entry; and back. parse
    // keeps the last line of each visitor and visit, skips and counts lines
    // that are not entries, and leaves out removed entries.
    static std::string format(const std::vector<JournalEntry>& entries);
    static std::vector<JournalEntry> parse(const std::string& text, std::size_t& skipped,
                                           std::size_t* lines = nullptr);

private:
    struct Held
    {
        JournalEntry entry;
        std::uint64_t order = 0; // when it was first held, for a stable file
    };

    static std::string keyOf(const std::string& id, const std::string& card, const std::string& start,
                             const std::string& end);
    bool expired(const JournalEntry& entry) const;
    void hold(JournalEntry entry);

    SecondsClock m_clock;
    std::string m_path;
    bool m_loaded = false;
    bool m_fileExists = false;
    std::size_t m_fileLines = 0;
    std::uint64_t m_nextOrder = 0;
    std::unordered_map<std::string, Held> m_entries; // by key
};

} // namespace movik
