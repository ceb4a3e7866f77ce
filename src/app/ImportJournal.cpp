// The import journal file: one line per change of a visitor's state, six
// fields separated by tabs. Identifiers and cards are the service's bytes,
// which may hold tabs, line breaks or anything else, so every field is
// escaped. A journal written before there were pending entries holds only
// the states "0" and "1", each with its import time, and reads as it stands.
#include "ImportJournal.h"

#include "Dates.h"
#include "Platform.h"
#include "StringUtil.h"

#include <algorithm>
#include <cstdio>

namespace movik {

namespace {

const char* const headerLine =
    "# identifier, card, start, end, state (p pending, 0 imported, 1 acknowledged, - removed), "
    "since (seconds since 1970 UTC); tab-separated, backslash escapes; the last line of a visit counts\n";

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
bool unescape(const std::string& text, std::string& out)
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

bool parseState(const std::string& field, JournalState& state)
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

bool parseSeconds(const std::string& text, std::int64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool parseLine(const std::string& line, JournalEntry& entry)
{
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        std::size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            break;
        from = tab + 1;
    }
    if (fields.size() != 6)
        return false;
    if (!unescape(fields[0], entry.id) || !unescape(fields[1], entry.card) ||
        !unescape(fields[2], entry.start) || !unescape(fields[3], entry.end))
        return false;
    return parseState(fields[4], entry.state) && parseSeconds(fields[5], entry.time);
}

} // namespace

ImportJournal::ImportJournal(SecondsClock clock) : m_clock(std::move(clock)) {}

bool ImportJournal::expired(const JournalEntry& entry) const
{
    // Entries whose time lies ahead (a clock set back) are kept: dropping
    // them could let their visitors in a second time.
    return m_clock() - entry.time >= keepSeconds;
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
    std::vector<JournalEntry> entries;
    std::unordered_map<std::string, std::size_t> latest; // key -> position in entries
    skipped = 0;
    std::size_t count = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(from, end - from);
        from = end + 1;
        // A line ended CR LF by a hand edit on Windows still counts.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        ++count;
        JournalEntry entry;
        if (!parseLine(line, entry)) {
            ++skipped;
            continue;
        }
        std::string key = keyOf(entry.id, entry.card, entry.start, entry.end);
        auto found = latest.find(key);
        if (found == latest.end()) {
            latest.emplace(std::move(key), entries.size());
            entries.push_back(std::move(entry));
        } else {
            entries[found->second] = std::move(entry);
        }
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const JournalEntry& e) { return e.state == JournalState::Removed; }),
                  entries.end());
    if (lines != nullptr)
        *lines = count;
    return entries;
}

std::string ImportJournal::keyOf(const std::string& id, const std::string& card, const std::string& start,
                                 const std::string& end)
{
    // Escaped fields hold no tab, so the joined key is unambiguous.
    std::string key;
    appendEscaped(key, id);
    key += '\t';
    appendEscaped(key, card);
    key += '\t';
    appendEscaped(key, start);
    key += '\t';
    appendEscaped(key, end);
    return key;
}

void ImportJournal::hold(JournalEntry entry)
{
    std::string key = keyOf(entry.id, entry.card, entry.start, entry.end);
    if (entry.state == JournalState::Removed) {
        m_entries.erase(key);
        return;
    }
    auto found = m_entries.find(key);
    if (found != m_entries.end())
        found->second.entry = std::move(entry);
    else
        m_entries.emplace(std::move(key), Held{std::move(entry), m_nextOrder++});
}

bool ImportJournal::load(const std::string& path, std::size_t& skipped, std::string& error)
{
    m_path = path;
    m_loaded = false;
    m_fileExists = false;
    m_fileLines = 0;
    m_entries.clear();
    skipped = 0;
    std::string text;
    bool missing = false;
    // Only a file of the program's own is trusted: one that someone else
    // wrote could list waiting visitors as imported, and they would be
    // acknowledged without their rows.
    if (!platform::readOwnFile(path, text, missing, error)) {
        // No file in a directory that exists is an empty journal; with no
        // directory there would be nowhere to write one.
        std::size_t slash = path.find_last_of(std::string(1, platform::pathSeparator()) + "/");
        if (!missing || (slash != std::string::npos && !platform::fileExists(path.substr(0, slash + 1))))
            return false;
    }
    m_fileExists = !missing;
    std::size_t lines = 0;
    for (auto& entry : parse(text, skipped, &lines))
        if (!expired(entry))
            hold(std::move(entry));
    m_fileLines = lines;
    m_loaded = true;
    // Written anew when anything in it is no longer live. A failure here
    // leaves the file as it was, which still reads the same.
    if (m_fileLines != m_entries.size()) {
        std::string ignored;
        compact(ignored);
    }
    return true;
}

const JournalEntry* ImportJournal::find(const std::string& id, const std::string& card,
                                        const std::string& start, const std::string& end) const
{
    auto found = m_entries.find(keyOf(id, card, start, end));
    if (found == m_entries.end() || expired(found->second.entry))
        return nullptr;
    return &found->second.entry;
}

bool ImportJournal::record(const std::string& id, const std::string& card, const std::string& start,
                           const std::string& end, JournalState state, std::string& error)
{
    const std::int64_t time = m_clock();
    const JournalEntry* held = find(id, card, start, end);
    if (state == JournalState::Removed && held == nullptr)
        return true;
    if (held != nullptr && held->state == state && time >= held->time && time - held->time < relistSeconds)
        return true;
    JournalEntry entry{id, card, start, end, state, time};
    const std::string line = lineOf(entry);
    hold(std::move(entry));
    if (!m_loaded) {
        error = "not read";
        return false;
    }
    ++m_fileLines;
    // A file that is new or grown to twice its live entries is written anew:
    // the new state goes with it.
    if (!m_fileExists || (m_fileLines >= compactionFloor && m_fileLines >= 2 * m_entries.size()))
        return compact(error);
    const auto flush =
        state == JournalState::Pending ? platform::FileFlush::ToDisk : platform::FileFlush::Cached;
    if (platform::appendToFile(m_path, line, flush, error))
        return true;
    // A file of the program's own that cannot take the line is written
    // anew; one that is not (someone else's, a link) is never touched.
    return platform::isOwnFile(m_path, error) && compact(error);
}

bool ImportJournal::compact(std::string& error)
{
    if (!m_loaded) {
        error = "not read";
        return false;
    }
    std::erase_if(m_entries, [this](const auto& item) { return expired(item.second.entry); });
    const std::vector<JournalEntry> live = entries();
    if (!platform::replaceFile(m_path, format(live), error))
        return false;
    m_fileExists = true;
    m_fileLines = live.size();
    return true;
}

std::vector<JournalEntry> ImportJournal::entries() const
{
    std::vector<const Held*> held;
    held.reserve(m_entries.size());
    for (const auto& [key, h] : m_entries)
        held.push_back(&h);
    std::sort(held.begin(), held.end(), [](const Held* a, const Held* b) { return a->order < b->order; });
    std::vector<JournalEntry> result;
    result.reserve(held.size());
    for (const Held* h : held)
        result.push_back(h->entry);
    return result;
}

} // namespace movik
