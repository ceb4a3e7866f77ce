// The import journal "movik.journal": the visitors this program directory
// has already written to the access-control database, so that a visitor the
// service sends again (its acknowledgement lost, refused, or listed once more
// after "Deleted") is acknowledged again but never imported twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace movik {

struct JournalEntry
{
    std::string id;
    std::string card;
    std::string start;
    std::string end;
    bool acknowledged = false;
    std::int64_t importedAt = 0; // seconds since 1970-01-01 UTC
};

class ImportJournal
{
public:
    // Entries are kept this long after their import, then dropped the next
    // time the file is written.
    static constexpr std::int64_t keepSeconds = 30 * 24 * 60 * 60;

    using Clock = std::function<std::int64_t()>;
    // clock gives the current time in seconds since 1970 UTC.
    explicit ImportJournal(Clock clock = systemClock);

    static std::int64_t systemClock();

    // Reads the journal at path, replacing what is held. A missing file is an
    // empty journal. Lines that cannot be read are skipped and counted in
    // skipped; they are gone once the file is next written. False with a
    // message in error when the file exists but cannot be read: nothing is
    // then held and nothing is written until a load succeeds.
    bool load(const std::string& path, std::size_t& skipped, std::string& error);
    bool isLoaded() const { return m_loaded; }
    const std::string& path() const { return m_path; }

    bool contains(const std::string& id, const std::string& card, const std::string& start,
                  const std::string& end) const;
    // Records an import and writes the file durably. The entry is held even
    // when the write fails (false, with error), so this process still knows it.
    bool add(const std::string& id, const std::string& card, const std::string& start, const std::string& end,
             std::string& error);
    // Marks an entry acknowledged in memory; the file takes it at the next
    // write (add or flush), which saves one disk flush per visitor.
    void markAcknowledged(const std::string& id, const std::string& card, const std::string& start,
                          const std::string& end);
    // Writes the file when something held is not yet in it.
    bool flush(std::string& error);

    const std::vector<JournalEntry>& entries() const { return m_entries; }

    // The file's text for these entries, and back. parse skips and counts
    // lines that are not entries.
    static std::string format(const std::vector<JournalEntry>& entries);
    static std::vector<JournalEntry> parse(const std::string& text, std::size_t& skipped);

private:
    static std::string keyOf(const std::string& id, const std::string& card, const std::string& start,
                             const std::string& end);
    void insert(JournalEntry entry);
    bool write(std::string& error);

    Clock m_clock;
    std::string m_path;
    bool m_loaded = false;
    bool m_dirty = false;
    std::vector<JournalEntry> m_entries;
    std::unordered_map<std::string, std::size_t> m_index; // key -> position in m_entries
};

} // namespace movik
