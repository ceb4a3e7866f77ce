// Reading text files by the line rule every reader of the system shares: a
// carriage return ends a line and takes one line feed directly after it with
// it; a lone line feed is an ordinary character; the first Ctrl-Z (byte 26)
// ends the text; lines have no length limit. Lines are joined with nothing
// between them.
#pragma once

#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <string>

namespace movik {

// Reads path whole. False with the failure's text in error when the file
// cannot be opened or read; text then holds the lines completed before the
// failure. The file is refused while another process has it open for writing.
// A link at path is followed unless links says otherwise. With encoding, a
// file a site saved with a UTF-8 mark or as UTF-16 is read as text
// (textOfBytes) before the line rule, and encoding says which it was.
bool readTextFile(const std::string& path, std::string& text, std::string& error,
                  platform::Links links = platform::Links::Follow, TextEncoding* encoding = nullptr);

// Reads a whole answer file of the transfer tool by the line rule. False
// when the file is missing (text empty) or cannot be opened or read to its
// end (logged as "<GetRes>" + message; text holds the lines read before the
// failure). A link put in the answer's place is never read.
bool GetResult(const std::string& path, std::string& text);

// Incremental form of the line rule, for callers that feed bytes in blocks.
class LineJoiner
{
public:
    // Feeds a block; returns false once Ctrl-Z has ended the text.
    bool feed(const char* data, std::size_t size);
    // Lines completed so far, joined.
    const std::string& completedLines() const { return m_text; }
    // The whole text: completed lines and the last, unterminated one.
    std::string finish() const { return m_text + m_line; }

private:
    std::string m_text;
    std::string m_line;
    bool m_afterCr = false;
    bool m_ended = false;
};

} // namespace movik
