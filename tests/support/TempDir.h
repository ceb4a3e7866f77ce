// Temporary program directories for tests.
#pragma once

#include "core/Settings.h"

#include <string>
#include <vector>

namespace movik::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. path() ends with the separator.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

// Writes bytes to a file (replacing it); throws on failure.
void writeFile(const std::string& path, const std::string& bytes);
// text (ASCII or Latin-1 bytes) as Notepad saves it as "Unicode": UTF-16 LE
// after its mark.
std::string utf16leWithMark(const std::string& text);
// Reads a whole file as bytes; empty when it does not exist.
std::string readFile(const std::string& path);

// The lines of text, each without its line end; a last line without one counts too.
std::vector<std::string> splitLines(const std::string& text, const std::string& lineEnd = "\n");

// A JSON array of count copies of object.
std::string arrayOf(const std::string& object, int count);

// How often what occurs in text, without overlaps.
int countOf(const std::string& text, const std::string& what);

// Gives dir the import journal of a program that has run there before
// (owner-only, with no visitor in it): a journal that starts empty would
// have each new visitor looked up in the database before its import.
void writeRunJournal(const TempDir& dir);

// Points the log at dir with the given debug level; the settings of a
// program in dir, the other settings at their defaults.
Settings useProgramDirectory(const TempDir& dir, int debugLevel = 0);

// The messages of the log lines (timestamps cut off), in order, of the log
// in dir or in directory (ending with the separator).
std::string logMessages(const TempDir& dir);
std::string logMessages(const std::string& directory);

} // namespace movik::test
