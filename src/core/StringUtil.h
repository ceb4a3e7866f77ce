// Small text helpers shared by the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace movik {

// Calls each(offset, line) for every line of text, ended by a line feed or
// by the end of text, with where it starts; the line feed is left out.
template <typename Each> void forEachLine(const std::string& text, Each each)
{
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        each(from, std::string_view(text.data() + from, end - from));
        from = end + 1;
    }
}

// Removes blanks and tabs at both ends.
std::string trimBlanks(const std::string& text);
// ASCII lower case; other bytes unchanged.
std::string lowerCase(std::string text);
// True when text ends with suffix.
bool endsWith(const std::string& text, const std::string& suffix);
// Appends a Unicode code point as UTF-8.
void appendUtf8(std::string& out, unsigned long code);
// Reads the UTF-8 character at text[at] into code and moves at past it.
// False, leaving at alone, for anything that is not the shortest encoding
// of a Unicode scalar value: a stray continuation byte, a sequence cut short
// or broken by a byte that does not continue it, an overlong form, a
// surrogate, or a value above U+10FFFF.
bool decodeUtf8(const std::string& text, std::size_t& at, std::uint32_t& code);
// True when the whole of text is valid UTF-8.
bool isValidUtf8(const std::string& text);
// The longest line the program writes to its window or its log.
constexpr std::size_t MaxLineLength = 4096;
// text with every line (ended by a line feed, or the last) longer than limit
// bytes cut so that, with the marker "... [N bytes left out]" at its end, it
// is limit bytes at most; a cut never splits a UTF-8 character. Lines within
// the limit, and the line breaks, stay as they are.
std::string boundedLines(const std::string& text, std::size_t limit = MaxLineLength);
// Text with its control characters written visibly ("\n", "\r", "\t",
// "\xHH"), for one log or status line.
std::string visibleText(const std::string& text);
// How a file a site wrote was saved: as plain bytes (ASCII, UTF-8 or a code
// page), as UTF-8 with a byte-order mark (older Notepad), or as UTF-16 with
// its mark (Notepad's "Unicode", PowerShell 5's ">").
enum class TextEncoding { Plain, Utf8WithMark, Utf16Le, Utf16Be };

// The text of a file's bytes as the program holds text: a UTF-8 mark at the
// start is dropped, UTF-16 with its mark becomes UTF-8 (a lone surrogate
// U+FFFD); other bytes stand as they are. encoding says which it was.
std::string textOfBytes(const std::string& bytes, TextEncoding& encoding);
// "UTF-16 LE" and the like, for the setup check; empty for plain text.
std::string encodingName(TextEncoding encoding);

// Value of a hexadecimal digit in either case; -1 for any other character.
int hexDigitValue(char c);

// Decodes one escape of a form's own: text[at] is the character after the
// backslash; at is left on the escape's last character. False for an escape
// the form does not have.
using EscapeDecoder = bool (*)(std::string_view text, std::size_t& at, std::string& out);
// The text with its backslash escapes decoded, the form's own and the four
// that every form here shares: \\, \n, \r and \t. False at a backslash that
// ends the text or an escape neither knows. The import journal's lines and
// the service's JSON strings are both read with it.
bool decodeEscapes(std::string_view text, std::string& out, EscapeDecoder more);
// The value of text when it is 1 to maxDigits decimal digits and nothing
// else (no sign, no blank); maxDigits is at most 18, so it never overflows.
// False, leaving value alone, otherwise.
bool parseDigits(std::string_view text, std::size_t maxDigits, std::int64_t& value);

} // namespace movik
