// The import journal "movik.journal": the visitors this program directory
// has written to the access-control database, so that a visitor the service
// sends again (its acknowledgement lost, refused, or listed once more after
// "Deleted") is acknowledged again but never imported twice.
//
// This is the journal's file: what is appended and when it reaches the
// disk, when it is written anew, and what is trusted of it. Its lines are
// JournalLine's, its look-ups JournalIndex's.
//
// The file only grows between compactions: each change of a visitor's state
// is one whole line appended, and the last line of a visitor counts. A
// visitor's entry is written as pending, on the disk, before its rows are
// committed, and marked imported after; a crash in between leaves the
// pending line, and the rows themselves then tell whether the import went
// through. The file is written anew, with the live entries only, when it is
// read and when it has grown to twice their number.
#pragma once

#include "app/JournalIndex.h"
#include "app/JournalLine.h"
#include "core/Dates.h"

#include <cstdint>
#include <string>
#include <vector>

namespace movik {

// One program directory's journal file, held through its index.
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

    explicit ImportJournal(SecondsClock clock = secondsNow, VisitDigest digest = visitDigest);

    // Reads the journal at path, replacing what is held, and compacts the
    // file when it holds more lines than live entries. A missing file is an
    // empty journal. Lines that cannot be read are skipped and counted in
    // skipped; they are gone once the file is compacted. False with a message
    // in error when the file exists but cannot be read, or is not the
    // program's own (another user's, a link, one others may write): nothing
    // is then held and nothing is written until a load succeeds.
    //
    // A file that is there but not the program's own is set aside under
    // path + ".untrusted-<UTC time>" (setAside() names it; error says why)
    // and an empty journal started in its place; when it cannot be set
    // aside, or cannot be read for now, load fails. A last line cut short is
    // left out and counted in skipped, and the file written anew.
    bool load(const std::string& path, std::size_t& skipped, std::string& error);
    bool isLoaded() const { return m_loaded; }
    // The file the last load set aside; empty when it set none aside.
    const std::string& setAside() const { return m_setAside; }
    // True for keepSeconds after the journal started empty (new, set aside,
    // or deleted while the program ran): a visitor it does not hold may
    // have been imported before, and is looked up before it is imported.
    // The start is kept in the file.
    bool mayHaveForgotten() const;
    // A file deleted while the program runs is written anew whole from what
    // is held; it then counts as started empty. False when that fails.
    bool stillThere(std::string& error);
    const std::string& path() const { return m_path; }

    // The live entry of this visitor and visit; null when there is none.
    // Valid until the next call.
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

    // The live entries, oldest first (read back from the file as needed).
    std::vector<JournalEntry> entries() const;
    // How many live entries are held.
    std::size_t size() const;
    // Lines in the file since it was last written whole, the header left out.
    std::size_t fileLines() const { return m_fileLines; }

    // The file's text: its header, then one line per entry; and back. parse
    // keeps the last line of each visitor and visit, skips and counts lines
    // that are not entries, and leaves out removed entries.
    static std::string format(const std::vector<JournalEntry>& entries);
    static std::vector<JournalEntry> parse(const std::string& text, std::size_t& skipped,
                                           std::size_t* lines = nullptr);

private:
    using Record = JournalIndex::Record;
    using Visit = JournalIndex::Visit;

    bool expired(std::int64_t time) const;
    bool live(const Record& record) const;
    // The live records' lines, oldest first, with the records they belong to.
    bool liveLines(const std::string* text, std::string& out, std::vector<std::uint32_t>& order,
                   std::string& error) const;
    // Writes the file anew with the live entries, read from text where given.
    bool writeLive(const std::string* text, std::string& error);
    bool readTrusted(const std::string& path, std::string& text, bool& missing, std::string& error);
    // Holds the records of the file's content: the last line of each visit
    // counts; lines that are not entries are counted in skipped.
    void readText(const std::string& text, std::size_t& skipped);

    SecondsClock m_clock;
    std::string m_path;
    bool m_loaded = false;
    bool m_fileExists = false;
    // A write failed part-way: the file may end in part of a line.
    bool m_mustRewrite = false;
    std::int64_t m_emptySince = 0; // when the journal started empty; 0: it did not
    std::string m_setAside;
    std::size_t m_fileLines = 0;
    JournalIndex m_index;
    mutable JournalEntry m_found;
};

} // namespace movik
