// The import journal file: one line per imported visitor, six fields
// separated by tabs. Identifiers and cards are the service's bytes, which may
// hold tabs, line breaks or anything else, so every field is escaped.
#include "ImportJournal.h"

#include "Platform.h"
#include "StringUtil.h"

#include <chrono>
#include <cstdio>

namespace movik {

namespace {

const char* const headerLine =
    "# identifier, card, start, end, acknowledged, imported at (seconds since 1970 "
    "UTC); tab-separated, backslash escapes\n";

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
    if (fields[4] != "0" && fields[4] != "1")
        return false;
    entry.acknowledged = fields[4] == "1";
    return parseSeconds(fields[5], entry.importedAt);
}

} // namespace

ImportJournal::ImportJournal(Clock clock) : m_clock(std::move(clock)) {}

std::int64_t ImportJournal::systemClock()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string ImportJournal::format(const std::vector<JournalEntry>& entries)
{
    std::string text = headerLine;
    for (const auto& e : entries) {
        appendEscaped(text, e.id);
        text += '\t';
        appendEscaped(text, e.card);
        text += '\t';
        appendEscaped(text, e.start);
        text += '\t';
        appendEscaped(text, e.end);
        text += e.acknowledged ? "\t1\t" : "\t0\t";
        text += std::to_string(e.importedAt);
        text += '\n';
    }
    return text;
}

std::vector<JournalEntry> ImportJournal::parse(const std::string& text, std::size_t& skipped)
{
    std::vector<JournalEntry> entries;
    skipped = 0;
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
        JournalEntry entry;
        if (parseLine(line, entry))
            entries.push_back(std::move(entry));
        else
            ++skipped;
    }
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

void ImportJournal::insert(JournalEntry entry)
{
    std::string key = keyOf(entry.id, entry.card, entry.start, entry.end);
    auto found = m_index.find(key);
    if (found != m_index.end()) {
        m_entries[found->second] = std::move(entry);
        return;
    }
    m_index.emplace(std::move(key), m_entries.size());
    m_entries.push_back(std::move(entry));
}

bool ImportJournal::load(const std::string& path, std::size_t& skipped, std::string& error)
{
    m_path = path;
    m_loaded = false;
    m_dirty = false;
    m_entries.clear();
    m_index.clear();
    skipped = 0;
    std::string text;
    bool missing = false;
    if (!platform::readWholeFile(path, text, missing, error)) {
        // No file in a directory that exists is an empty journal; with no
        // directory there would be nowhere to write one.
        std::size_t slash = path.find_last_of(std::string(1, platform::pathSeparator()) + "/");
        if (!missing || (slash != std::string::npos && !platform::fileExists(path.substr(0, slash + 1))))
            return false;
    }
    for (auto& entry : parse(text, skipped))
        insert(std::move(entry));
    // Skipped lines are dropped from the file at its next write.
    m_dirty = skipped > 0;
    m_loaded = true;
    return true;
}

bool ImportJournal::contains(const std::string& id, const std::string& card, const std::string& start,
                             const std::string& end) const
{
    return m_index.count(keyOf(id, card, start, end)) != 0;
}

bool ImportJournal::add(const std::string& id, const std::string& card, const std::string& start,
                        const std::string& end, std::string& error)
{
    insert(JournalEntry{id, card, start, end, false, m_clock()});
    m_dirty = true;
    return write(error);
}

void ImportJournal::markAcknowledged(const std::string& id, const std::string& card, const std::string& start,
                                     const std::string& end)
{
    auto found = m_index.find(keyOf(id, card, start, end));
    if (found == m_index.end() || m_entries[found->second].acknowledged)
        return;
    m_entries[found->second].acknowledged = true;
    m_dirty = true;
}

bool ImportJournal::flush(std::string& error)
{
    return !m_dirty || write(error);
}

bool ImportJournal::write(std::string& error)
{
    if (!m_loaded) {
        error = "not read";
        return false;
    }
    // Entries whose time lies ahead (a clock set back) are kept: dropping
    // them could let their visitors in a second time.
    const std::int64_t now = m_clock();
    std::vector<JournalEntry> kept;
    kept.reserve(m_entries.size());
    for (auto& e : m_entries)
        if (now - e.importedAt < keepSeconds)
            kept.push_back(std::move(e));
    m_entries.clear();
    m_index.clear();
    for (auto& e : kept)
        insert(std::move(e));
    if (!platform::replaceFileDurably(m_path, format(m_entries), error))
        return false;
    m_dirty = false;
    return true;
}

} // namespace movik
