// The import journal's index: where each visit the journal holds is found,
// by a digest of its values, without holding the values of every entry.
// Held compactly, for a site that remembers hundreds of thousands of
// visitors: per entry its digest, state, time and where its latest line
// starts in the file, about 40 bytes. Only an entry that is pending or not
// yet acknowledged (the service lists it again at every poll), or whose line
// could not be written, keeps its values here; the others are compared by
// their line when their digest matches.
#pragma once

#include "app/JournalLine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace movik {

// A fixed-size digest of a visit (identifier, card, start, end): the same
// for the same visit. Two visits may share one; they are then told apart by
// their own values.
using VisitDigest = std::uint64_t (*)(std::string_view id, std::string_view card, std::string_view start,
                                      std::string_view end);
std::uint64_t visitDigest(std::string_view id, std::string_view card, std::string_view start,
                          std::string_view end);

// Where the index reads the line of an entry that keeps no values: the
// file's content at hand, or the file itself.
class JournalLines
{
public:
    virtual ~JournalLines() = default;
    // The line that starts at offset, without its line feed; empty when it
    // cannot be read. buffer may be used to hold it.
    virtual std::string_view lineAt(std::uint64_t offset, std::string& buffer) const = 0;
};

// The lines of a file's content held in memory.
class TextLines : public JournalLines
{
public:
    explicit TextLines(const std::string& text) : m_text(text) {}
    std::string_view lineAt(std::uint64_t offset, std::string&) const override
    {
        return journalLineAt(m_text, offset);
    }

private:
    const std::string& m_text;
};

class JournalIndex
{
public:
    // A visit's values.
    struct Visit
    {
        std::string id;
        std::string card;
        std::string start;
        std::string end;
        bool operator==(const Visit&) const = default;
    };
    // Where a visit is looked for: its digest, and a 16-bit check of a hash
    // of its own, so that visits whose digests collide are told apart
    // without reading their lines, but for one in 65 536.
    struct Key
    {
        std::uint64_t digest = 0;
        std::uint16_t check = 0;
    };
    static constexpr std::uint32_t noValues = 0xffffffffu;
    static constexpr std::uint32_t notFound = 0xffffffffu;
    struct Record
    {
        std::uint64_t digest = 0;
        std::int64_t time = 0;
        std::uint64_t offset = 0;      // where its latest line starts in the file
        std::uint32_t held = noValues; // its values, or noValues
        std::uint16_t check = 0;
        JournalState state = JournalState::Removed;
    };

    explicit JournalIndex(VisitDigest digest) : m_digest(digest) {}

    void clear();
    void reserve(std::size_t records) { m_records.reserve(records); }

    Key keyOf(const Visit& visit) const;
    // The record of this visit, removed ones included; notFound when none.
    std::uint32_t locate(const Key& key, const Visit& visit, const JournalLines& lines) const;
    // A new record for the key; the slots grow to stay at most half full.
    std::uint32_t add(const Key& key);

    const std::vector<Record>& records() const { return m_records; }
    Record& at(std::uint32_t index) { return m_records[index]; }
    // Records not removed, expired ones included.
    std::size_t held() const { return m_held; }
    const Visit& valuesOf(const Record& record) const { return m_visits[record.held]; }

    void setState(Record& record, JournalState state);
    void keepValues(Record& record, const Visit& visit);
    void dropValues(Record& record);

    // Holds the given records anew, densely and in this order, at the
    // offsets of their lines in text, a file written from them whose
    // entries follow its leading comments one per record.
    void rebuild(const std::vector<std::uint32_t>& order, const std::string& text);

private:
    bool sameVisit(const Record& record, const Visit& visit, const JournalLines& lines) const;
    void place(std::uint32_t at);
    void placeAll();

    VisitDigest m_digest;
    std::vector<Record> m_records;      // in the order first held
    std::size_t m_held = 0;             // records not removed
    std::vector<std::uint32_t> m_slots; // open addressing by digest: record index + 1, 0 when empty
    std::vector<Visit> m_visits;        // values of the records that keep them
    std::vector<std::uint32_t> m_freeVisits;
};

} // namespace movik
