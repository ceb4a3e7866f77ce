// Reader for Windows-style profile files ("movik.ini", "aliases.ini").
#pragma once

#include "core/StringUtil.h"

#include <cstdint>
#include <map>
#include <string>

namespace movik {

// Section and key names match without regard to case; the first occurrence
// of a section or key counts; a line ends at CR LF, a lone CR or a lone LF;
// lines starting with ';' are comments; blanks around names and values are
// trimmed; a value in a pair of double or single quotes is taken without
// them. Values are taken whole (no comments after a value), up to 2047
// characters.
class IniFile
{
public:
    // Reads the file; a missing or unreadable file leaves it empty, so every
    // read gives its default. A file saved with a UTF-8 mark, or as UTF-16
    // with its mark (as Windows' own profile reader takes it), is read as text.
    bool load(const std::string& path);
    void parse(const std::string& content);
    // How the file last loaded was saved.
    TextEncoding encoding() const { return m_encoding; }

    bool hasSection(const std::string& section) const;
    bool hasKey(const std::string& section, const std::string& key) const;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    std::int32_t readInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;

    // The integer rules of the settings file: "$", "x", "X", "0x", "0X" start
    // at most eight significant hexadecimal digits giving a 32-bit pattern;
    // otherwise an optional sign and decimal digits within the 32-bit range.
    // Anything else gives defaultValue.
    static std::int32_t parseInteger(const std::string& text, std::int32_t defaultValue);
    // The same rules; false, leaving value alone, for a text they refuse.
    static bool tryParseInteger(const std::string& text, std::int32_t& value);

    static constexpr std::size_t maxValueLength = 2047;

private:
    const std::string* find(const std::string& section, const std::string& key) const;

    // lower-cased section -> lower-cased key -> value
    std::map<std::string, std::map<std::string, std::string>> m_sections;
    TextEncoding m_encoding = TextEncoding::Plain;
};

} // namespace movik
