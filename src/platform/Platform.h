// Operating-system services the core needs. One implementation per OS
// (Platform_posix.cpp, Platform_win.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace movik::platform {

// Path separator of the platform: '\\' on Windows, '/' elsewhere.
char pathSeparator();
// Directory holding the running executable, with a trailing separator.
std::string executableDirectory();
// A file name as a settings file gave it, as the program's UTF-8 text: on
// Windows a name saved in the ANSI code page (older editors) is converted,
// one saved as UTF-8 taken as it is; elsewhere unchanged.
std::string pathFromSettings(const std::string& text);
// Directory that holds the transfer tool when the settings name none.
std::string defaultCurlPath();
// File name of the transfer tool inside that directory.
std::string curlToolName();

bool fileExists(const std::string& path);
// Deletes a file; failures (including a missing file) are ignored by callers.
bool deleteFile(const std::string& path);

// Whether opening a file follows a link at its name.
enum class Links { Follow, Refuse };

// Who may read a file the program writes.
enum class FileReaders {
    Owner,    // the program's user only (Linux 0600; Windows: owner and system)
    Everyone, // also other local users, such as a monitoring account (Linux 0644;
              // Windows: the directory's inherited permissions)
};

// How far a write has gone on return.
enum class FileFlush {
    ToDisk, // on the disk: it survives a power cut
    Cached, // handed to the operating system: it survives the program's crash only
};

// Replaces a file so that a crash leaves either the old content or the new,
// never a mixture. The new content is written to a file of its own, created
// new beside the target under a name no one else can have made ready for it
// (path + ".tmp-" + a unique suffix; a link or a file someone put there is
// never written through), and renamed over path. The file is readable by its
// owner only unless readers says otherwise. False with a message in error.
bool replaceFile(const std::string& path, const std::string& content, std::string& error,
                 FileReaders readers = FileReaders::Owner, FileFlush flush = FileFlush::ToDisk);
// Appends text to the end of a file in one write, creating it for its owner
// only. Refused, without writing, when path is a link or not a regular file
// of the program's user. False with a message in error; where given, offset
// is set to where the text starts in the file.
bool appendToFile(const std::string& path, const std::string& text, FileFlush flush, std::string& error,
                  std::uint64_t* offset = nullptr);
// Up to size bytes of a file from offset (fewer at its end), as
// readWholeFile reads a file. False with a message in error.
bool readFileAt(const std::string& path, std::uint64_t offset, std::size_t size, std::string& content,
                std::string& error);
// Whole content of a file. False with a message in error; a missing file
// sets missing so callers can tell "nothing yet" from a failure. Anything
// but a regular file (a pipe someone put there, say) is refused, never
// waited on; so is a link, unless links says Follow.
bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                   Links links = Links::Refuse);

// The whole content of a file the program keeps for itself: a regular file
// (not a link) of the program's user that no one else may write (Linux: not
// writable by others; its group may, as in the installed layout. Windows: of
// its user, its default owner, Administrators or SYSTEM, and writable by no
// other account). Anything else is refused, unread, with the reason in
// error; missing as readWholeFile. Where given, foreign tells a file that is
// there but not the program's own (another's, a link, not a plain file,
// writable by others) from one that cannot be read for now (a device error,
// a backup program holding it).
bool readOwnFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                 bool* foreign = nullptr);
// Renames a file within its directory, never over another; false with the
// reason in error.
bool renameFile(const std::string& from, const std::string& to, std::string& error);
// Whether path is such a file; false with the reason in error.
bool isOwnFile(const std::string& path, std::string& error);

// True when path is a regular file (not a link) of the program's user that
// no one else may read or write, holding exactly content.
bool isOwnPrivateFile(const std::string& path, const std::string& content);

// The names of the entries of a directory ("." and ".." left out); empty
// when it cannot be read.
std::vector<std::string> directoryEntries(const std::string& directory);

// Holds the program directory for the rest of the run. From then on its
// files are reached through the hold: on Linux a descriptor (files opened
// relative to it, curl started in it), so a rename above the directory
// cannot send them into another; on Windows a handle opened without
// FILE_SHARE_DELETE, which keeps the folder (and on NTFS those above it)
// from being renamed or moved. False with the reason in error.
bool holdProgramDirectory(const std::string& directory, std::string& error);

// Why a directory cannot be trusted to hold what the program reads and
// writes; nothing in it when it can.
struct DirectoryDistrust
{
    std::string folder; // the directory at fault: the one judged, or one above it
    std::string who;    // who besides the trusted may change it ("every local user", "user nobody", ...)
    std::string fix;    // the command that puts it right, for a site to run
    std::string reason; // instead of who: why it cannot be judged (an access list that cannot be read,
                        // a directory no longer the one held)
    bool empty() const { return who.empty() && reason.empty(); }
};

// Judges the program directory and every directory above it. Trusted in the
// directory itself (Linux): its owner, its group, root and the program's
// user, by its mode, its access list (the mask counted) and its default
// access list (what the files the program creates there would allow); in
// a directory above it: root, the program's user and the program
// directory's group, and a sticky directory whose owner and the next one's
// are root or the program's user. Windows: an allowed entry that grants
// write, add, delete or ownership rights in the folder (in a folder above
// it: rights to rename or re-permission what it holds) to any but the
// program's user, the folder's owner, SYSTEM, Administrators and
// TrustedInstaller. An access list that cannot be read distrusts, as does a
// held directory whose name now leads elsewhere.
DirectoryDistrust judgeProgramDirectory(const std::string& directory);

// Where a site reads how to set the program directory right, as the
// refusal names it: the installed deploy guide beside the program (Linux),
// README.txt's section on installing (Windows, whose zip and installer
// carry no deploy guide).
std::string directoryGuide(const std::string& appPath);

// When others than the file's owner and group (Linux), or accounts beyond
// the program's user, SYSTEM and Administrators (Windows), may read path:
// true, with who they are in who.
bool othersMayRead(const std::string& path, std::string& who);

// The account that owns path, by name where it has one; empty when unknown.
std::string fileOwner(const std::string& path);

// Text of a failed file operation, from the platform's error number.
std::string fileErrorText(int code);

// Local date and time as "dd/mm/yyyy hh:mm:ss" with the platform's separators.
std::string localTimestamp();

// Plain blocking sleep; negative counts sleep not at all.
void sleepMs(int milliseconds);

// Appends one complete log line, first cutting the file at a Ctrl-Z found in
// its last 128 bytes. A log that is a link or not a regular file is not
// written, so its rules never cut another file. Returns false on any
// failure (the caller drops the line), with the platform's error number in
// error.
bool appendLogLine(const std::string& path, const std::string& line, int& error);

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

    // False with the platform's error number in error. Anything but a
    // regular file is refused; so is a link, unless links says Follow.
    bool open(const std::string& path, int& error, Links links = Links::Follow);
    // Bytes read (0 at end of file), or -1 with the error number in error.
    long long read(char* buffer, std::size_t size, int& error);
    void close();
    bool isOpen() const { return m_handle != invalidHandle; }

private:
    static constexpr long long invalidHandle = -1;
    long long m_handle = invalidHandle;
};

} // namespace movik::platform
