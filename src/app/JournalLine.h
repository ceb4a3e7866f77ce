// One line of the import journal "movik.journal": a visitor's state, six
// fields separated by tabs. Identifiers and cards are the service's bytes,
// which may hold tabs, line breaks or anything else, so every field is
// escaped. A journal written before there were pending entries holds only
// the states "0" and "1", each with its import time, and reads as it stands.
#pragma once

#include "core/StringUtil.h"

#include <cstdint>
#include <string>
#include <string_view>

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

// The comment that leads every journal file, with its line feed.
extern const char* const journalHeader;
// The comment a journal that started empty keeps while it may not know a
// visitor imported in the retention before it; and the time it names, 0
// when text has no such line.
std::string emptyStartLine(std::int64_t since);
std::int64_t emptyStartOf(const std::string& text);

// The entry's line, with its line feed.
std::string journalLineOf(const JournalEntry& entry);
// One line, without its line feed (a CR before it, from a hand edit on
// Windows, is left out too), into the entry: false for a line that is not
// one. The entry's strings are reused, so reading a file costs no
// allocation per line.
bool parseJournalLine(std::string_view line, JournalEntry& entry);
// The line that starts at offset in text, without its line feed; empty
// past the end.
std::string_view journalLineAt(const std::string& text, std::uint64_t offset);

// Calls each(offset, line) for every line of text that may be an entry
// (neither empty nor a comment).
template <typename Each> void forEachJournalEntry(const std::string& text, Each each)
{
    forEachLine(text, [&each](std::size_t offset, std::string_view line) {
        if (!line.empty() && line != "\r" && line[0] != '#')
            each(offset, line);
    });
}

} // namespace movik
