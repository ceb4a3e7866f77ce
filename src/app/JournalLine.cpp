// The journal's line format: the escapes, the six fields and the comments.
#include "app/JournalLine.h"

#include <cstdio>

namespace movik {

const char* const journalHeader =
    "# identifier, card, start, end, state (p pending, 0 imported, 1 acknowledged, - removed), "
    "since (seconds since 1970 UTC); tab-separated, backslash escapes; the last line of a visit counts\n";

namespace {

const std::string emptyStartLead = "# started empty at ";

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

// The journal's one escape beyond the shared four: "\x" and two hex digits.
bool decodeByteEscape(std::string_view text, std::size_t& i, std::string& out)
{
    if (text[i] != 'x' || i + 2 >= text.size())
        return false;
    const int high = hexDigitValue(text[i + 1]);
    const int low = hexDigitValue(text[i + 2]);
    if (high < 0 || low < 0)
        return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
    return true;
}

// False on a dangling or unknown escape, and on any raw control byte: a
// field holds none, since every one is written escaped.
bool unescape(std::string_view text, std::string& out)
{
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    return decodeEscapes(text, out, decodeByteEscape);
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

} // namespace

std::string emptyStartLine(std::int64_t since)
{
    return emptyStartLead + std::to_string(since) +
           " (seconds since 1970 UTC): until 30 days after, a visitor not listed here is looked up in "
           "card_validity before it is imported\n";
}

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

std::string journalLineOf(const JournalEntry& e)
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

bool parseJournalLine(std::string_view line, JournalEntry& entry)
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

std::string_view journalLineAt(const std::string& text, std::uint64_t offset)
{
    if (offset >= text.size())
        return {};
    const std::size_t end = text.find('\n', offset);
    return std::string_view(text).substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

} // namespace movik
