#include "TempDir.h"

#include "core/Log.h"

#include "core/Settings.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace movik::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::random_device rd;
    std::mt19937_64 gen(rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("movik-test-" + std::to_string(gen() % 1000000000ULL));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            m_path = candidate.string() + static_cast<char>(fs::path::preferred_separator);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Directories made read-only by a test must be writable again to go.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << bytes;
}

std::string utf16leWithMark(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeRunJournal(const TempDir& dir)
{
    const std::string path = dir.file("movik.journal");
    if (fs::exists(path))
        return;
    writeFile(path, "# the journal of a program that has run here before\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

Settings useProgramDirectory(const TempDir& dir, int debugLevel)
{
    configureLog(dir.path(), debugLevel);
    Settings fresh;
    fresh.AppPath = dir.path();
    fresh.DebugLevel = debugLevel;
    return fresh;
}

std::vector<std::string> splitLines(const std::string& text, const std::string& lineEnd)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(lineEnd, pos);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + lineEnd.size();
    }
    return lines;
}

std::string logMessages(const TempDir& dir)
{
    return logMessages(dir.path());
}

std::string logMessages(const std::string& directory)
{
    std::string messages;
    for (const std::string& line : splitLines(readFile(directory + "MOVIK.log"), "\r\n"))
        messages += (line.size() >= 20 ? line.substr(20) : line) + "\n";
    return messages;
}

std::string arrayOf(const std::string& object, int count)
{
    std::string text = "[";
    for (int i = 0; i < count; ++i)
        text += (i == 0 ? "" : ",") + object;
    return text + "]";
}

int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

} // namespace movik::test
