#include "core/TextFile.h"

#include "core/Log.h"
#include "platform/Platform.h"

#include <exception>

#include <cstring>
#include <vector>

namespace movik {

bool LineJoiner::feed(const char* data, std::size_t size)
{
    if (m_ended)
        return false;
    const char* end = data + size;
    const char* p = data;
    if (m_afterCr && p < end) {
        m_afterCr = false;
        if (*p == '\n')
            ++p;
    }
    while (p < end) {
        // Copy the run up to the next byte with a meaning in one go.
        const char* stop = p;
        while (stop < end && *stop != '\r' && *stop != 26)
            ++stop;
        m_line.append(p, stop);
        if (stop == end)
            break;
        if (*stop == 26) {
            m_ended = true;
            return false;
        }
        // Carriage return: the line is complete.
        m_text += m_line;
        m_line.clear();
        p = stop + 1;
        if (p == end)
            m_afterCr = true;
        else if (*p == '\n')
            ++p;
    }
    return true;
}

bool readTextFile(const std::string& path, std::string& text, std::string& error, platform::Links links,
                  TextEncoding* encoding)
{
    text.clear();
    platform::InputFile file;
    int code = 0;
    if (!file.open(path, code, links)) {
        error = platform::fileErrorText(code);
        return false;
    }
    LineJoiner joiner;
    std::vector<char> buffer(64 * 1024);
    // A file a site saved is decoded whole first; an answer is read as it
    // comes.
    std::string bytes;
    for (;;) {
        long long n = file.read(buffer.data(), buffer.size(), code);
        if (n < 0) {
            if (encoding != nullptr) {
                const std::string decoded = textOfBytes(bytes, *encoding);
                joiner.feed(decoded.data(), decoded.size());
            }
            text = joiner.completedLines();
            error = platform::fileErrorText(code);
            return false;
        }
        if (n > 0 && encoding != nullptr) {
            bytes.append(buffer.data(), static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || !joiner.feed(buffer.data(), static_cast<std::size_t>(n)))
            break;
    }
    if (encoding != nullptr) {
        const std::string decoded = textOfBytes(bytes, *encoding);
        joiner.feed(decoded.data(), decoded.size());
    }
    text = joiner.finish();
    return true;
}

bool GetResult(const std::string& path, std::string& text)
{
    text.clear();
    try {
        if (!platform::fileExists(path))
            return false;
        std::string error;
        // The tool writes the answers; a link put in their place is never
        // read, so no other file of this user reaches the log as an answer.
        if (!readTextFile(path, text, error, platform::Links::Refuse)) {
            WriteLog(LogAlways, "<GetRes>" + error);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<GetRes>") + e.what());
        return false;
    }
}

} // namespace movik
