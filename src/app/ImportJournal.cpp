// The import journal's file: the append log and what reaches the disk when,
// the compaction that writes it anew, and what of it is trusted.
#include "app/ImportJournal.h"

#include "core/Dates.h"
#include "core/StatusFile.h"
#include "platform/Platform.h"

#include <algorithm>

namespace movik {

namespace {

// A time as a file name may carry it: "20261209T033000Z".
std::string compactUtcTime(std::int64_t seconds)
{
    std::string text = utcTimestamp(seconds);
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '-' || c == ':'; }),
               text.end());
    return text;
}

// The lines of the journal's file, read where they stand: for a look-up
// that meets an entry held without its values.
class FileLines : public JournalLines
{
public:
    explicit FileLines(const std::string& path) : m_path(path) {}
    std::string_view lineAt(std::uint64_t offset, std::string& buffer) const override
    {
        std::string error;
        for (std::size_t size = 4096;; size *= 4) {
            if (!platform::readFileAt(m_path, offset, size, buffer, error))
                return {};
            const std::size_t end = buffer.find('\n');
            if (end != std::string::npos || buffer.size() < size)
                return std::string_view(buffer).substr(0, end);
        }
    }

private:
    const std::string& m_path;
};

} // namespace

ImportJournal::ImportJournal(SecondsClock clock, VisitDigest digest)
    : m_clock(std::move(clock)), m_index(digest)
{
}

bool ImportJournal::expired(std::int64_t time) const
{
    // Entries whose time lies ahead (a clock set back) are kept: dropping
    // them could let their visitors in a second time.
    return m_clock() - time >= keepSeconds;
}

bool ImportJournal::live(const Record& record) const
{
    return record.state != JournalState::Removed && !expired(record.time);
}

std::string ImportJournal::format(const std::vector<JournalEntry>& entries)
{
    std::string text = journalHeader;
    for (const auto& e : entries)
        text += journalLineOf(e);
    return text;
}

std::vector<JournalEntry> ImportJournal::parse(const std::string& text, std::size_t& skipped,
                                               std::size_t* lines)
{
    ImportJournal journal([] { return std::int64_t{0}; });
    skipped = 0;
    journal.readText(text, skipped);
    if (lines != nullptr)
        *lines = journal.m_fileLines;
    std::vector<JournalEntry> entries;
    JournalEntry entry;
    for (const Record& record : journal.m_index.records())
        if (record.state != JournalState::Removed &&
            parseJournalLine(journalLineAt(text, record.offset), entry))
            entries.push_back(entry);
    return entries;
}

// Reads the journal at path when it is the program's own. Only such a file
// is trusted: one that someone else wrote could list waiting visitors as
// imported, and they would be acknowledged without their rows. False when
// it can be neither read nor replaced.
bool ImportJournal::readTrusted(const std::string& path, std::string& text, bool& missing, std::string& error)
{
    bool foreign = false;
    if (!platform::readOwnFile(path, text, missing, error, &foreign)) {
        // No file in a directory that exists is an empty journal; with no
        // directory there would be nowhere to write one.
        std::size_t slash = path.find_last_of(std::string(1, platform::pathSeparator()) + "/");
        if (missing && slash != std::string::npos && !platform::fileExists(path.substr(0, slash + 1)))
            return false;
        // One that cannot be read for now (a disk's error, a backup program
        // holding it) is neither trusted nor replaced: imports wait for it.
        if (!missing && !foreign)
            return false;
        if (foreign) {
            // Never read, never written: kept aside for a person to look at,
            // and a journal of the program's own started in its place.
            const std::string aside = path + ".untrusted-" + compactUtcTime(m_clock());
            std::string why;
            if (!platform::renameFile(path, aside, why)) {
                error += "; it could not be set aside (" + why + ")";
                return false;
            }
            m_setAside = aside;
            missing = true;
        }
    }
    return true;
}

bool ImportJournal::load(const std::string& path, std::size_t& skipped, std::string& error)
{
    m_path = path;
    m_loaded = false;
    m_fileExists = false;
    m_mustRewrite = false;
    m_fileLines = 0;
    m_index.clear();
    m_setAside.clear();
    skipped = 0;
    std::string text;
    bool missing = false;
    if (!readTrusted(path, text, missing, error))
        return false;
    m_fileExists = !missing;
    // A journal that starts empty does not know what the last 30 days
    // imported; one that did keeps the time it started.
    m_emptySince = missing ? m_clock() : emptyStartOf(text);
    // A last line without its line feed was cut short (a crash, a full
    // disk): it is left out, and the file goes on from whole lines.
    const bool torn = !text.empty() && text.back() != '\n';
    if (torn)
        text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    readText(text, skipped);
    skipped += torn ? 1 : 0;
    m_loaded = true;
    // Written anew when anything in it is no longer live, which leaves only
    // live records held. A failure here leaves the file as it was, which
    // still reads the same; only a torn one must not be appended to.
    if (torn || m_fileLines != size()) {
        if (!writeLive(&text, error) && torn) {
            m_loaded = false;
            return false;
        }
        error.clear();
    }
    return true;
}

bool ImportJournal::stillThere(std::string& error)
{
    if (!m_loaded || !m_fileExists || platform::fileExists(m_path))
        return true;
    // Deleted while the program runs: written anew whole, from what this
    // process holds. The entries held by their lines alone went with it, so
    // the journal now counts as started empty.
    for (std::uint32_t at = 0; at < m_index.records().size(); ++at) {
        Record& r = m_index.at(at);
        if (r.held == JournalIndex::noValues && r.state != JournalState::Removed)
            m_index.setState(r, JournalState::Removed);
    }
    m_emptySince = m_clock();
    m_fileExists = false;
    return compact(error);
}

bool ImportJournal::mayHaveForgotten() const
{
    return m_emptySince != 0 && m_clock() - m_emptySince < keepSeconds;
}

void ImportJournal::readText(const std::string& text, std::size_t& skipped)
{
    m_index.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    const TextLines lines(text);
    JournalEntry entry;
    Visit visit;
    forEachJournalEntry(text, [&](std::uint64_t offset, std::string_view line) {
        ++m_fileLines;
        if (!parseJournalLine(line, entry)) {
            ++skipped;
            return;
        }
        visit.id.swap(entry.id);
        visit.card.swap(entry.card);
        visit.start.swap(entry.start);
        visit.end.swap(entry.end);
        const JournalIndex::Key key = m_index.keyOf(visit);
        std::uint32_t at = m_index.locate(key, visit, lines);
        if (at == JournalIndex::notFound)
            at = m_index.add(key);
        Record& record = m_index.at(at);
        m_index.setState(record, entry.state);
        record.time = entry.time;
        record.offset = offset;
        if (entry.state == JournalState::Pending || entry.state == JournalState::Imported)
            m_index.keepValues(record, visit);
        else
            m_index.dropValues(record);
    });
}

const JournalEntry* ImportJournal::find(const std::string& id, const std::string& card,
                                        const std::string& start, const std::string& end) const
{
    const Visit visit{id, card, start, end};
    const std::uint32_t at = m_index.locate(m_index.keyOf(visit), visit, FileLines(m_path));
    if (at == JournalIndex::notFound || !live(m_index.records()[at]))
        return nullptr;
    const Record& record = m_index.records()[at];
    m_found = JournalEntry{id, card, start, end, record.state, record.time};
    return &m_found;
}

bool ImportJournal::record(const std::string& id, const std::string& card, const std::string& start,
                           const std::string& end, JournalState state, std::string& error)
{
    // First, since writing a lost file anew places its records afresh.
    std::string lost;
    const bool there = stillThere(lost);
    const std::int64_t time = m_clock();
    const Visit visit{id, card, start, end};
    const JournalIndex::Key key = m_index.keyOf(visit);
    std::uint32_t at = m_index.locate(key, visit, FileLines(m_path));
    const bool held = at != JournalIndex::notFound && live(m_index.records()[at]);
    if (state == JournalState::Removed && !held)
        return true;
    // A state held only in memory (its write failed) is not on the disk:
    // it is written again, never taken as done.
    if (held && m_index.records()[at].state == state && time >= m_index.records()[at].time &&
        time - m_index.records()[at].time < relistSeconds && m_fileExists && !m_mustRewrite)
        return true;
    if (at == JournalIndex::notFound)
        at = m_index.add(key);
    Record& record = m_index.at(at);
    m_index.setState(record, state);
    record.time = time;
    // Its values stay held until its line is in the file.
    m_index.keepValues(record, visit);
    if (!m_loaded) {
        error = "not read";
        return false;
    }
    ++m_fileLines;
    if (!there) {
        error = lost;
        return false;
    }
    // A file that is new, grown to twice its live entries, or that may end
    // in part of a line a failed write left, is written anew: the new state
    // goes with it.
    if (!m_fileExists || m_mustRewrite ||
        (m_fileLines >= compactionFloor && m_fileLines >= 2 * m_index.held()))
        return compact(error);
    const auto flush =
        state == JournalState::Pending ? platform::FileFlush::ToDisk : platform::FileFlush::Cached;
    std::uint64_t offset = 0;
    if (platform::appendToFile(m_path, journalLineOf(JournalEntry{id, card, start, end, state, time}), flush,
                               error, &offset)) {
        m_index.at(at).offset = offset;
        // Acknowledged, or gone: not listed by the service again, so read
        // back from its line should it be.
        if (state == JournalState::Acknowledged || state == JournalState::Removed)
            m_index.dropValues(m_index.at(at));
        return true;
    }
    // A file of the program's own that cannot take the line is written
    // anew; one that is not (someone else's, a link) is never touched. Until
    // one of them works, no line is appended after what may be part of one.
    m_mustRewrite = true;
    std::string why;
    return platform::isOwnFile(m_path, why) && compact(why);
}

bool ImportJournal::liveLines(const std::string* text, std::string& out, std::vector<std::uint32_t>& order,
                              std::string& error) const
{
    const std::vector<Record>& records = m_index.records();
    // The file's content, for the records whose values are only in it.
    std::string read;
    if (text == nullptr && m_fileExists &&
        std::any_of(records.begin(), records.end(),
                    [this](const Record& r) { return live(r) && r.held == JournalIndex::noValues; })) {
        bool missing = false;
        if (!platform::readOwnFile(m_path, read, missing, error))
            return false;
        text = &read;
    }
    out = journalHeader;
    if (mayHaveForgotten())
        out += emptyStartLine(m_emptySince);
    order.clear();
    for (std::uint32_t at = 0; at < records.size(); ++at) {
        const Record& record = records[at];
        if (!live(record))
            continue;
        if (record.held != JournalIndex::noValues) {
            const Visit& v = m_index.valuesOf(record);
            out += journalLineOf(JournalEntry{v.id, v.card, v.start, v.end, record.state, record.time});
        } else {
            // Its line in the file is its latest state: copied as it stands.
            const std::string_view line =
                text != nullptr ? journalLineAt(*text, record.offset) : std::string_view{};
            if (line.empty()) {
                error = "the line of an entry is missing from " + m_path;
                return false;
            }
            out.append(line);
            if (out.back() == '\r')
                out.pop_back();
            out += '\n';
        }
        order.push_back(at);
    }
    return true;
}

bool ImportJournal::compact(std::string& error)
{
    if (!m_loaded) {
        error = "not read";
        return false;
    }
    // Until a write works, what is held may not be on the disk.
    m_mustRewrite = !writeLive(nullptr, error);
    return !m_mustRewrite;
}

bool ImportJournal::writeLive(const std::string* text, std::string& error)
{
    std::string out;
    std::vector<std::uint32_t> order;
    if (!liveLines(text, out, order, error) || !platform::replaceFile(m_path, out, error))
        return false;
    m_fileExists = true;
    m_mustRewrite = false;
    m_fileLines = order.size();
    m_index.rebuild(order, out);
    return true;
}

std::size_t ImportJournal::size() const
{
    const std::vector<Record>& records = m_index.records();
    return static_cast<std::size_t>(
        std::count_if(records.begin(), records.end(), [this](const Record& r) { return live(r); }));
}

std::vector<JournalEntry> ImportJournal::entries() const
{
    std::vector<JournalEntry> result;
    std::string text;
    std::vector<std::uint32_t> order;
    std::string error;
    if (!liveLines(nullptr, text, order, error))
        return result;
    JournalEntry entry;
    forEachJournalEntry(text, [&](std::uint64_t, std::string_view line) {
        if (parseJournalLine(line, entry))
            result.push_back(entry);
    });
    return result;
}

} // namespace movik
