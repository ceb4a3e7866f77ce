// Profile-file reader with the rules of the Windows profile functions.
#include "core/IniFile.h"

#include "core/StringUtil.h"

#include "platform/Platform.h"

namespace movik {

bool IniFile::load(const std::string& path)
{
    m_sections.clear();
    std::string content;
    std::string error;
    bool missing = false;
    m_encoding = TextEncoding::Plain;
    if (!platform::readWholeFile(path, content, missing, error, platform::Links::Follow))
        return false;
    parse(textOfBytes(content, m_encoding));
    return true;
}

void IniFile::parse(const std::string& content)
{
    m_sections.clear();
    std::map<std::string, std::string>* current = nullptr;
    bool currentIsFirst = false;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = content.size();
        std::string line = trimBlanks(content.substr(pos, end - pos));
        pos = end + 1;
        if (end < content.size() && content[end] == '\r' && pos < content.size() && content[pos] == '\n')
            ++pos;

        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            std::string name = lowerCase(
                trimBlanks(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            currentIsFirst = m_sections.find(name) == m_sections.end();
            current = &m_sections[name];
            continue;
        }
        std::size_t equals = line.find('=');
        if (current == nullptr || !currentIsFirst || equals == std::string::npos)
            continue;
        std::string key = lowerCase(trimBlanks(line.substr(0, equals)));
        std::string value = trimBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (value.size() > maxValueLength)
            value.resize(maxValueLength);
        current->emplace(key, value); // keeps the first occurrence
    }
}

const std::string* IniFile::find(const std::string& section, const std::string& key) const
{
    auto s = m_sections.find(lowerCase(section));
    if (s == m_sections.end())
        return nullptr;
    auto k = s->second.find(lowerCase(key));
    return k == s->second.end() ? nullptr : &k->second;
}

bool IniFile::hasSection(const std::string& section) const
{
    return m_sections.find(lowerCase(section)) != m_sections.end();
}

bool IniFile::hasKey(const std::string& section, const std::string& key) const
{
    return find(section, key) != nullptr;
}

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const
{
    const std::string* value = find(section, key);
    return value ? *value : defaultValue;
}

std::int32_t IniFile::readInteger(const std::string& section, const std::string& key,
                                  std::int32_t defaultValue) const
{
    const std::string* value = find(section, key);
    return value ? parseInteger(*value, defaultValue) : defaultValue;
}

bool IniFile::tryParseInteger(const std::string& original, std::int32_t& result)
{
    std::string text = original;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.replace(0, 2, "$");
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return false;

    std::size_t hexStart = std::string::npos;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X')
        hexStart = i + 1;
    else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        hexStart = i + 2;
    if (hexStart != std::string::npos) {
        if (hexStart == text.size())
            return false;
        std::uint32_t value = 0;
        int significant = 0;
        for (std::size_t j = hexStart; j < text.size(); ++j) {
            int digit = hexDigitValue(text[j]);
            if (digit < 0)
                return false;
            if (significant > 0 || digit != 0)
                ++significant;
            if (significant > 8)
                return false;
            value = (value << 4) | static_cast<std::uint32_t>(digit);
        }
        result = static_cast<std::int32_t>(value);
        return true;
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            return false;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return false;
    result = static_cast<std::int32_t>(value);
    return true;
}

std::int32_t IniFile::parseInteger(const std::string& text, std::int32_t defaultValue)
{
    std::int32_t value = defaultValue;
    return tryParseInteger(text, value) ? value : defaultValue;
}

} // namespace movik
