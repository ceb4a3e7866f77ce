// The visitor list scanner. Not a JSON reader: the service sends flat
// objects whose members come in a fixed order, and the scanner cuts the
// answer at braces and commas outside strings.
#include "vlist/Scanner.h"

#include "core/Dates.h"
#include "core/StringUtil.h"

namespace movik {

// Control bytes of a service's value shown as \xHH, so a log line stays one
// line.
std::string printable(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            const char* digits = "0123456789abcdef";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

Visitor visitorOf(const VisitorRecord& record)
{
    return Visitor{record[0], record[1], record[2], record[3]};
}

std::string visitorRefusal(const Visitor& visitor)
{
    const std::string& card = visitor.card;
    if (card.empty())
        return "has no card number";
    if (card.size() > MaxCardBytes)
        return "has a card number of " + std::to_string(card.size()) + " bytes (at most " +
               std::to_string(MaxCardBytes) + ")";
    if (card.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        return "has a card number holding a control character";
    // Some engines read a backslash in a literal as an escape: no card
    // number holds one, so none is let near a statement.
    if (card.find('\\') != std::string::npos)
        return "has a card number holding a backslash";
    if (!isValidUtf8(card))
        return "has a card number that is not valid UTF-8";
    if (isCompactTime(visitor.start) && isCompactTime(visitor.end) && visitor.end < visitor.start)
        return "has a visit that ends (" + visitor.end + ") before it starts (" + visitor.start + ")";
    return {};
}

void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle,
                        const std::function<bool()>& goOn)
{
    scanVisitorRecords(
        text, RecordHandler([&handle](const VisitorRecord& record, const std::string&) { handle(record); }),
        goOn);
}

namespace {

// Characters that end a run of plain member text inside an object.
struct Stops
{
    bool stop[256] = {};
};
constexpr Stops stops = [] {
    Stops s;
    const char list[] = "{},\" \t\r\n";
    for (std::size_t i = 0; i + 1 < sizeof list; ++i)
        s.stop[static_cast<unsigned char>(list[i])] = true;
    return s;
}();

// Past a string's closing quote, from just after its opening one: braces
// and commas in it are part of the value, and a backslash takes the next
// character with it so that \" does not close it.
const char* pastString(const char* p, const char* end)
{
    while (p != end && *p != '"') {
        if (*p == '\\' && ++p == end)
            break;
        ++p;
    }
    return p != end ? p + 1 : p;
}

// The record being read: its values so far, the member in hand, and the
// first member whose value could not be read.
struct RecordInHand
{
    void pack()
    {
        if (!PackField(member, record) && failedMember.empty())
            failedMember = member.empty() ? std::string("(an empty member)") : member;
        member.clear();
    }
    void clear()
    {
        record.clear();
        member.clear();
        failedMember.clear();
    }
    VisitorRecord record;
    std::string member;
    std::string failedMember;
};

} // namespace

void scanVisitorRecords(const std::string& text, const RecordHandler& handle,
                        const std::function<bool()>& goOn)
{
    RecordInHand inHand;
    bool inObject = false;
    bool afterClose = false;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        if (inObject) {
            const char* run = p;
            while (p != end && !stops.stop[static_cast<unsigned char>(*p)])
                ++p;
            inHand.member.append(run, p);
        } else {
            // Outside objects only braces and commas count: a stray quote
            // in a plain-text answer opens nothing.
            while (p != end && *p != '{' && *p != '}' && *p != ',')
                ++p;
        }
        if (p == end)
            break;
        switch (*p++) {
        case '{':
            inObject = true;
            break;
        case '}':
            inObject = false;
            afterClose = true;
            inHand.pack();
            handle(inHand.record, inHand.failedMember);
            inHand.clear();
            if (goOn && !goOn())
                return;
            break;
        case ',':
            // The comma after a closing brace separates objects; any other
            // comma ends a member, inside an object or not.
            if (!afterClose)
                inHand.pack();
            afterClose = false;
            break;
        case '"': {
            const char* run = p - 1;
            p = pastString(p, end);
            inHand.member.append(run, p);
            break;
        }
        default:
            // Blanks and line breaks between the tokens of an object carry
            // no meaning.
            break;
        }
    }
}

} // namespace movik
