#include "core/StringUtil.h"

#include <cstdio>

namespace movik {

std::string trimBlanks(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void appendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool decodeUtf8(const std::string& text, std::size_t& at, std::uint32_t& code)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 1;
    std::uint32_t value = lead;
    std::uint32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        least = 0x10000;
    } else {
        return false;
    }
    if (text.size() - at < length)
        return false;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (byte(at + k) & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    code = value;
    at += length;
    return true;
}

bool isValidUtf8(const std::string& text)
{
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < text.size();)
        if (!decodeUtf8(text, at, code))
            return false;
    return true;
}

std::string boundedLines(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::string bounded;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t feed = text.find('\n', from);
        const std::size_t end = feed == std::string::npos ? text.size() : feed;
        // A CR before the feed belongs to the line break, not to the line.
        std::size_t lineEnd = end;
        if (feed != std::string::npos && lineEnd > from && text[lineEnd - 1] == '\r')
            --lineEnd;
        const std::size_t length = lineEnd - from;
        if (length <= limit) {
            bounded.append(text, from, lineEnd - from);
        } else {
            // The marker's digits count too; the longest count fits any cut.
            const std::string longest = "... [" + std::to_string(length) + " bytes left out]";
            std::size_t keep = limit > longest.size() ? limit - longest.size() : 0;
            while (keep > 0 && (static_cast<unsigned char>(text[from + keep]) & 0xC0) == 0x80)
                --keep;
            bounded.append(text, from, keep);
            bounded += "... [" + std::to_string(length - keep) + " bytes left out]";
        }
        bounded.append(text, lineEnd, end - lineEnd);
        if (feed == std::string::npos)
            break;
        bounded += '\n';
        from = feed + 1;
    }
    return bounded;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool decodeEscapes(std::string_view text, std::string& out, EscapeDecoder more)
{
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // The bytes up to the next escape go across whole.
        const std::size_t escape = text.find('\\', i);
        out.append(text.substr(i, escape == std::string_view::npos ? std::string_view::npos : escape - i));
        if (escape == std::string_view::npos)
            break;
        i = escape + 1;
        if (i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default:
            if (!more(text, i, out))
                return false;
            break;
        }
    }
    return true;
}

std::string visibleText(const std::string& text)
{
    std::string visible;
    visible.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            visible += "\\n";
        } else if (c == '\r') {
            visible += "\\r";
        } else if (c == '\t') {
            visible += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            visible += code;
        } else {
            visible += c;
        }
    }
    return visible;
}

bool parseDigits(std::string_view text, std::size_t maxDigits, std::int64_t& value)
{
    if (text.empty() || text.size() > maxDigits || text.size() > 18)
        return false;
    std::int64_t digits = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        digits = digits * 10 + (c - '0');
    }
    value = digits;
    return true;
}

std::string textOfBytes(const std::string& bytes, TextEncoding& encoding)
{
    encoding = TextEncoding::Plain;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        encoding = TextEncoding::Utf8WithMark;
        return bytes.substr(3);
    }
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0;
    if (!little && bytes.compare(0, 2, "\xFE\xFF") != 0)
        return bytes;
    encoding = little ? TextEncoding::Utf16Le : TextEncoding::Utf16Be;
    auto unit = [&bytes, little](std::size_t at) -> unsigned long {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return little ? first | second << 8 : first << 8 | second;
    };
    std::string text;
    for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
        unsigned long code = unit(at);
        if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 &&
            unit(at + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        appendUtf8(text, code);
    }
    return text;
}

std::string encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return "UTF-16 LE";
    case TextEncoding::Utf16Be:
        return "UTF-16 BE";
    case TextEncoding::Plain:
    case TextEncoding::Utf8WithMark:
        break;
    }
    return {};
}

} // namespace movik
