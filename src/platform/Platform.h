// Operating-system services the core needs. One implementation per OS
// (Platform_posix.cpp, Platform_win.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <string>

namespace movik::platform {

// Path separator of the platform: '\\' on Windows, '/' elsewhere.
char pathSeparator();
// Directory holding the running executable, with a trailing separator.
std::string executableDirectory();
// Directory that holds the transfer tool when the settings name none.
std::string defaultCurlPath();
// File name of the transfer tool inside that directory.
std::string curlToolName();

bool fileExists(const std::string& path);
// Deletes a file; failures (including a missing file) are ignored by callers.
bool deleteFile(const std::string& path);

// Who may read a file the program writes.
enum class FileReaders {
    Owner,    // the program's user only (Linux 0600; Windows: owner and system)
    Everyone, // also other local users, such as a monitoring account (Linux 0644;
              // Windows: the directory's inherited permissions)
};

// Replaces a file so that a crash leaves either the old content or the new,
// never a mixture, and the new content has reached the disk on return. The
// file is readable by its owner only unless readers says otherwise. False
// with a message in error.
bool replaceFileDurably(const std::string& path, const std::string& content, std::string& error,
                        FileReaders readers = FileReaders::Owner);
// Whole content of a file. False with a message in error; a missing file
// sets missing so callers can tell "nothing yet" from a failure.
bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error);

// Text of a failed file operation, from the platform's error number.
std::string fileErrorText(int code);

// Local date and time as "dd/mm/yyyy hh:mm:ss" with the platform's separators.
std::string localTimestamp();

// Plain blocking sleep; negative counts sleep not at all.
void sleepMs(int milliseconds);

// Appends one complete log line, first cutting the file at a Ctrl-Z found in
// its last 128 bytes. Returns false on any failure (the caller drops the line).
bool appendLogLine(const std::string& path, const std::string& line);

// A file opened for reading while refusing other writers: on Windows by the
// sharing mode, on Linux by refusing a file that some process has open for
// writing. Closed by the destructor.
class InputFile
{
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with the platform's error number in error.
    bool open(const std::string& path, int& error);
    // Bytes read (0 at end of file), or -1 with the error number in error.
    long long read(char* buffer, std::size_t size, int& error);
    void close();
    bool isOpen() const { return m_handle != invalidHandle; }

private:
    static constexpr long long invalidHandle = -1;
    long long m_handle = invalidHandle;
};

} // namespace movik::platform
