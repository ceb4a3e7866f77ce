#include "db/ConnectionString.h"

#include "core/StringUtil.h"

#include <functional>

namespace movik {

namespace {

// Calls visit(key, valueBegin, valueEnd) for each attribute; a braced
// value's range includes its braces.
void forEachAttribute(const std::string& text,
                      const std::function<void(const std::string&, std::size_t, std::size_t)>& visit)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t equals = text.find('=', pos);
        const std::size_t semicolon = text.find(';', pos);
        if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
            if (semicolon == std::string::npos)
                return;
            pos = semicolon + 1;
            continue;
        }
        const std::string key = trimBlanks(text.substr(pos, equals - pos));
        std::size_t begin = equals + 1;
        while (begin < text.size() && text[begin] == ' ')
            ++begin;
        std::size_t end = begin;
        if (begin < text.size() && text[begin] == '{') {
            end = begin + 1;
            while (end < text.size()) {
                if (text[end] == '}') {
                    if (end + 1 < text.size() && text[end + 1] == '}') {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            const std::size_t next = text.find(';', end);
            visit(key, begin, end);
            pos = next == std::string::npos ? text.size() : next + 1;
        } else {
            end = text.find(';', begin);
            if (end == std::string::npos)
                end = text.size();
            visit(key, begin, end);
            pos = end + 1;
        }
    }
}

std::string unbraced(const std::string& value)
{
    if (value.size() < 2 || value.front() != '{' || value.back() != '}')
        return trimBlanks(value);
    std::string result;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        result += value[i];
        if (value[i] == '}' && value[i + 1] == '}')
            ++i;
    }
    return result;
}

} // namespace

bool isConnectionString(const std::string& text)
{
    return text.find('=') != std::string::npos;
}

bool connectionAttribute(const std::string& text, const std::string& key, std::string& value)
{
    bool found = false;
    const std::string wanted = lowerCase(key);
    forEachAttribute(text, [&](const std::string& name, std::size_t begin, std::size_t end) {
        if (!found && lowerCase(name) == wanted) {
            value = unbraced(text.substr(begin, end - begin));
            found = true;
        }
    });
    return found;
}

std::string maskPasswords(const std::string& text)
{
    std::string result;
    std::size_t copied = 0;
    forEachAttribute(text, [&](const std::string& name, std::size_t begin, std::size_t end) {
        const std::string key = lowerCase(name);
        if (key == "pwd" || key == "password") {
            result += text.substr(copied, begin - copied) + "***";
            copied = end;
        }
    });
    return result + text.substr(copied);
}

std::string connectionValue(const std::string& value)
{
    if (value.find_first_of(";{}=") == std::string::npos && trimBlanks(value) == value)
        return value;
    std::string result = "{";
    for (char c : value) {
        result += c;
        if (c == '}')
            result += '}';
    }
    return result + "}";
}

} // namespace movik
