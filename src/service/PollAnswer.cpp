#include "service/PollAnswer.h"

#include "core/StringUtil.h"

#include <cstdio>

namespace movik {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the answer's content starts: after the byte-order mark and blanks.
std::size_t contentStart(const std::string& answer)
{
    std::size_t at = answer.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < answer.size() && isBlank(answer[at]))
        ++at;
    return at;
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

bool isVisitorList(const std::string& answer)
{
    const std::size_t at = contentStart(answer);
    return at == answer.size() || answer[at] == '[';
}

std::string answerExcerpt(const std::string& answer, std::size_t limit)
{
    const std::size_t at = contentStart(answer);
    if (at == answer.size())
        return "(empty)";
    // Characters, not bytes: a multi-byte UTF-8 character counts once and is
    // never cut in half.
    std::size_t end = at;
    for (std::size_t count = 0; end < answer.size() && count < limit; ++count) {
        ++end;
        while (end < answer.size() && isContinuationByte(answer[end]))
            ++end;
    }
    return visibleText(answer.substr(at, end - at));
}

} // namespace movik
