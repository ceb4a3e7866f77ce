// Texts for the wide Windows API. Above the platform layer every text is
// UTF-8, file names and the program directory included, so that a folder
// named outside the PC's ANSI code page works; the ANSI (...A) functions
// would turn such a name into question marks.
#pragma once

#include <windows.h>

#include <string>

namespace movik::platform {

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
inline std::wstring wideText(const std::string& text, UINT codePage = CP_UTF8)
{
    if (text.empty())
        return {};
    const int size =
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// UTF-16 (size units, or up to the terminator when size is -1) to UTF-8.
inline std::string utf8Text(const wchar_t* text, int size = -1)
{
    if (text == nullptr || size == 0)
        return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), bytes, nullptr, nullptr);
    if (size < 0 && !utf8.empty() && utf8.back() == '\0')
        utf8.pop_back();
    return utf8;
}

} // namespace movik::platform
