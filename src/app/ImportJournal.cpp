// The import journal file: one line per change of a visitor's state, six
// fields separated by tabs. Identifiers and cards are the service's bytes,
// which may hold tabs, line breaks or anything else, so every field is
// escaped. A journal written before there were pending entries holds only
// the states "0" and "1", each with its import time, and reads as it stands.
#include "app/ImportJournal.h"

#include "core/Dates.h"
#include "core/StatusFile.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdio>

namespace movik {

namespace {

const char* const headerLine =
    "# identifier, card, start, end, state (p pending, 0 imported, 1 acknowledged, - removed), "
    "since (seconds since 1970 UTC); tab-separated, backslash escapes; the last line of a visit counts\n";
// Kept while a journal that started empty may not know a visitor imported
// in the retention before it: such visitors are looked up before import.
const std::string emptyStartLead = "# started empty at ";

std::string emptyStartLine(std::int64_t since)
{
    return emptyStartLead + std::to_string(since) +
           " (seconds since 1970 UTC): until 30 days after, a visitor not listed here is looked up in "
           "card_validity before it is imported\n";
}

// A time as a file name may carry it: "20261209T033000Z".
std::string compactUtcTime(std::int64_t seconds)
{
    std::string text = utcTimestamp(seconds);
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '-' || c == ':'; }),
               text.end());
    return text;
}

// When the journal of text started empty, by its line; 0 when it did not.
std::int64_t emptyStartOf(const std::string& text)
{
    std::int64_t since = 0;
    forEachLine(text, [&since](std::size_t, std::string_view line) {
        if (since == 0 && line.substr(0, emptyStartLead.size()) == emptyStartLead) {
            const std::string_view rest = line.substr(emptyStartLead.size());
            parseDigits(rest.substr(0, rest.find(' ')), 18, since);
        }
    });
    return since;
}

// A backslash, a tab, a line break and any other control byte are escaped;
// so is '#', which at the start of a line marks a comment. Every other byte
// stands as it is.
void appendEscaped(std::string& out, const std::string& field)
{
    for (char c : field) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f || c == '#') {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", byte);
                out += hex;
            } else {
                out += c;
            }
            break;
        }
    }
}

// False on a dangling or unknown escape, and on any raw control byte.
bool unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            int high = hexDigitValue(text[i + 1]);
            int low = hexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

const char* stateField(JournalState state)
{
    switch (state) {
    case JournalState::Pending:
        return "p";
    case JournalState::Imported:
        return "0";
    case JournalState::Acknowledged:
        return "1";
    case JournalState::Removed:
        return "-";
    }
    return "-";
}

bool parseState(std::string_view field, JournalState& state)
{
    for (JournalState known :
         {JournalState::Pending, JournalState::Imported, JournalState::Acknowledged, JournalState::Removed}) {
        if (field == stateField(known)) {
            state = known;
            return true;
        }
    }
    return false;
}

std::string lineOf(const JournalEntry& e)
{
    std::string line;
    appendEscaped(line, e.id);
    line += '\t';
    appendEscaped(line, e.card);
    line += '\t';
    appendEscaped(line, e.start);
    line += '\t';
    appendEscaped(line, e.end);
    line += '\t';
    line += stateField(e.state);
    line += '\t';
    line += std::to_string(e.time);
    line += '\n';
    return line;
}

// One line, without its line feed (a CR before it, from a hand edit on
// Windows, is left out too), into the entry: false for a line that is not
// one. The entry's strings are reused, so reading a file costs no
// allocation per line.
bool parseLine(std::string_view line, JournalEntry& entry)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::string_view fields[6];
    std::size_t count = 0;
    for (std::size_t from = 0;;) {
        const std::size_t tab = line.find('\t', from);
        if (count == 6)
            return false;
        fields[count++] =
            line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        if (tab == std::string_view::npos)
            break;
        from = tab + 1;
    }
    return count == 6 && unescape(fields[0], entry.id) && unescape(fields[1], entry.card) &&
           unescape(fields[2], entry.start) && unescape(fields[3], entry.end) &&
           parseState(fields[4], entry.state) && parseDigits(fields[5], 18, entry.time);
}

// Calls each(offset, line) for every line of text that may be an entry
// (neither empty nor a comment).
template <typename Each> void forEachEntryLine(const std::string& text, Each each)
{
    forEachLine(text, [&each](std::size_t offset, std::string_view line) {
        if (!line.empty() && line != "\r" && line[0] != '#')
            each(offset, line);
    });
}

std::uint64_t mix(std::uint64_t h)
{
    // splitmix64's finaliser: every input bit reaches every output bit.
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebull;
    return h ^ (h >> 31);
}

} // namespace

std::uint64_t visitDigest(std::string_view id, std::string_view card, std::string_view start,
                          std::string_view end)
{
    // FNV-1a over each value and its length, so that no two ways of cutting
    // the same bytes into four values give the same input.
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::string_view value : {id, card, start, end}) {
        for (char c : value) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x100000001b3ull;
        }
        h ^= value.size();
        h = mix(h);
    }
    return h;
}

ImportJournal::ImportJournal(SecondsClock clock, VisitDigest digest)
    : m_clock(std::move(clock)), m_digest(digest)
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
    std::string text = headerLine;
    for (const auto& e : entries)
        text += lineOf(e);
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
    for (const Record& record : journal.m_records)
        if (record.state != JournalState::Removed && parseLine(lineAt(text, record.offset), entry))
            entries.push_back(entry);
    return entries;
}

std::string_view ImportJournal::lineAt(const std::string& text, std::uint64_t offset)
{
    if (offset >= text.size())
        return {};
    const std::size_t end = text.find('\n', offset);
    return std::string_view(text).substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

bool ImportJournal::sameVisit(const Record& record, const Visit& visit, const std::string* text) const
{
    if (record.held != noValues)
        return m_visits[record.held] == visit;
    // Its line, from the content at hand or from the file; one that cannot
    // be read joins nothing.
    std::string read;
    std::string_view line;
    if (text != nullptr) {
        line = lineAt(*text, record.offset);
    } else {
        std::string error;
        for (std::size_t size = 4096;; size *= 4) {
            if (!platform::readFileAt(m_path, record.offset, size, read, error))
                return false;
            const std::size_t end = read.find('\n');
            if (end != std::string::npos || read.size() < size) {
                line = std::string_view(read).substr(0, end);
                break;
            }
        }
    }
    JournalEntry entry;
    return parseLine(line, entry) && Visit{entry.id, entry.card, entry.start, entry.end} == visit;
}

ImportJournal::Key ImportJournal::keyOf(const Visit& visit) const
{
    // FNV-1a with 32 bits, independent of the digest.
    std::uint32_t h = 0x811c9dc5u;
    for (const std::string* value : {&visit.id, &visit.card, &visit.start, &visit.end}) {
        for (char c : *value) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x01000193u;
        }
        h ^= 0xffu;
        h *= 0x01000193u;
    }
    return Key{m_digest(visit.id, visit.card, visit.start, visit.end),
               static_cast<std::uint16_t>(h ^ (h >> 16))};
}

std::uint32_t ImportJournal::locate(const Key& key, const Visit& visit, const std::string* text) const
{
    if (m_slots.empty())
        return notFound;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(key.digest) & mask; m_slots[i] != 0; i = (i + 1) & mask) {
        const Record& record = m_records[m_slots[i] - 1];
        if (record.digest == key.digest && record.check == key.check && sameVisit(record, visit, text))
            return m_slots[i] - 1;
    }
    return notFound;
}

void ImportJournal::place(std::uint32_t at)
{
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(m_records[at].digest) & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = at + 1;
}

void ImportJournal::placeAll()
{
    // Kept at most half full, so that a search ends soon at an empty slot.
    std::size_t size = 64;
    while (size < 2 * (m_records.size() + 1))
        size *= 2;
    m_slots.assign(size, 0);
    for (std::uint32_t at = 0; at < m_records.size(); ++at)
        place(at);
}

std::uint32_t ImportJournal::add(const Key& key)
{
    const auto at = static_cast<std::uint32_t>(m_records.size());
    m_records.push_back(Record{});
    m_records.back().digest = key.digest;
    m_records.back().check = key.check;
    if (2 * (m_records.size() + 1) > m_slots.size())
        placeAll();
    else
        place(at);
    return at;
}

void ImportJournal::setState(Record& record, JournalState state)
{
    m_held += (state != JournalState::Removed) - (record.state != JournalState::Removed);
    record.state = state;
}

void ImportJournal::keepValues(Record& record, const Visit& visit)
{
    if (record.held != noValues)
        return;
    if (!m_freeVisits.empty()) {
        record.held = m_freeVisits.back();
        m_freeVisits.pop_back();
        m_visits[record.held] = visit;
    } else {
        record.held = static_cast<std::uint32_t>(m_visits.size());
        m_visits.push_back(visit);
    }
}

void ImportJournal::dropValues(Record& record)
{
    if (record.held == noValues)
        return;
    m_visits[record.held] = Visit{};
    m_freeVisits.push_back(record.held);
    record.held = noValues;
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
    m_records.clear();
    m_slots.clear();
    m_visits.clear();
    m_freeVisits.clear();
    m_held = 0;
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
    for (Record& r : m_records)
        if (r.held == noValues && r.state != JournalState::Removed)
            setState(r, JournalState::Removed);
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
    m_records.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    JournalEntry entry;
    Visit visit;
    forEachEntryLine(text, [&](std::uint64_t offset, std::string_view line) {
        ++m_fileLines;
        if (!parseLine(line, entry)) {
            ++skipped;
            return;
        }
        visit.id.swap(entry.id);
        visit.card.swap(entry.card);
        visit.start.swap(entry.start);
        visit.end.swap(entry.end);
        const Key key = keyOf(visit);
        std::uint32_t at = locate(key, visit, &text);
        if (at == notFound)
            at = add(key);
        Record& record = m_records[at];
        setState(record, entry.state);
        record.time = entry.time;
        record.offset = offset;
        if (entry.state == JournalState::Pending || entry.state == JournalState::Imported)
            keepValues(record, visit);
        else
            dropValues(record);
    });
}

const JournalEntry* ImportJournal::find(const std::string& id, const std::string& card,
                                        const std::string& start, const std::string& end) const
{
    const Visit visit{id, card, start, end};
    const std::uint32_t at = locate(keyOf(visit), visit, nullptr);
    if (at == notFound || !live(m_records[at]))
        return nullptr;
    m_found = JournalEntry{id, card, start, end, m_records[at].state, m_records[at].time};
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
    const Key key = keyOf(visit);
    std::uint32_t at = locate(key, visit, nullptr);
    const bool held = at != notFound && live(m_records[at]);
    if (state == JournalState::Removed && !held)
        return true;
    // A state held only in memory (its write failed) is not on the disk:
    // it is written again, never taken as done.
    if (held && m_records[at].state == state && time >= m_records[at].time &&
        time - m_records[at].time < relistSeconds && m_fileExists && !m_mustRewrite)
        return true;
    if (at == notFound)
        at = add(key);
    Record& record = m_records[at];
    setState(record, state);
    record.time = time;
    // Its values stay held until its line is in the file.
    keepValues(record, visit);
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
    if (!m_fileExists || m_mustRewrite || (m_fileLines >= compactionFloor && m_fileLines >= 2 * m_held))
        return compact(error);
    const auto flush =
        state == JournalState::Pending ? platform::FileFlush::ToDisk : platform::FileFlush::Cached;
    std::uint64_t offset = 0;
    if (platform::appendToFile(m_path, lineOf(JournalEntry{id, card, start, end, state, time}), flush, error,
                               &offset)) {
        m_records[at].offset = offset;
        // Acknowledged, or gone: not listed by the service again, so read
        // back from its line should it be.
        if (state == JournalState::Acknowledged || state == JournalState::Removed)
            dropValues(m_records[at]);
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
    // The file's content, for the records whose values are only in it.
    std::string read;
    if (text == nullptr && m_fileExists &&
        std::any_of(m_records.begin(), m_records.end(),
                    [this](const Record& r) { return live(r) && r.held == noValues; })) {
        bool missing = false;
        if (!platform::readOwnFile(m_path, read, missing, error))
            return false;
        text = &read;
    }
    out = headerLine;
    if (mayHaveForgotten())
        out += emptyStartLine(m_emptySince);
    order.clear();
    for (std::uint32_t at = 0; at < m_records.size(); ++at) {
        const Record& record = m_records[at];
        if (!live(record))
            continue;
        if (record.held != noValues) {
            const Visit& v = m_visits[record.held];
            out += lineOf(JournalEntry{v.id, v.card, v.start, v.end, record.state, record.time});
        } else {
            // Its line in the file is its latest state: copied as it stands.
            const std::string_view line = text != nullptr ? lineAt(*text, record.offset) : std::string_view{};
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

void ImportJournal::rebuild(const std::vector<std::uint32_t>& order, const std::string& text)
{
    // Held anew, densely, with the offsets of the new file's lines.
    std::vector<Record> records;
    records.reserve(order.size());
    std::vector<Visit> visits;
    // After the comments that lead the file.
    std::uint64_t offset = 0;
    while (offset < text.size() && text[offset] == '#')
        offset = text.find('\n', offset) + 1;
    for (std::uint32_t at : order) {
        Record record = m_records[at];
        record.offset = offset;
        offset = text.find('\n', offset) + 1;
        if (record.held != noValues) {
            visits.push_back(std::move(m_visits[record.held]));
            record.held = static_cast<std::uint32_t>(visits.size() - 1);
        }
        records.push_back(record);
    }
    m_records.swap(records);
    m_visits = std::move(visits);
    m_freeVisits.clear();
    m_held = m_records.size();
    placeAll();
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
    rebuild(order, out);
    return true;
}

std::size_t ImportJournal::size() const
{
    return static_cast<std::size_t>(
        std::count_if(m_records.begin(), m_records.end(), [this](const Record& r) { return live(r); }));
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
    forEachEntryLine(text, [&](std::uint64_t, std::string_view line) {
        if (parseLine(line, entry))
            result.push_back(entry);
    });
    return result;
}

} // namespace movik
