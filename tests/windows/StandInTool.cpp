// A stand-in for curl.exe in the tests of the Windows program: a Windows
// program, so that the launcher gets a process handle for it (Wine gives
// none for a Linux program). It answers from files beside it instead of
// asking a service.
//
// For the answer file named by "-o NAME" it reads NAME + ".how" from its own
// directory: the first line is "<milliseconds to sleep> <exit code>", the
// rest is written to NAME in the current directory after the sleep. Without
// that file it writes nothing and exits with 0. Every run appends
// "start <pid> <NAME>" and, when it ends by itself, "end <pid> <NAME>" to
// "runs.txt" beside it.
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ownDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

void record(const std::string& dir, const std::string& line)
{
    // Runs may overlap: append in one write, sharing the file with them.
    HANDLE file =
        CreateFileA((dir + "runs.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

int main(int argc, char** argv)
{
    std::string output;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "-o")
            output = argv[i + 1];
    const std::string dir = ownDirectory();
    const std::string me = std::to_string(GetCurrentProcessId()) + " " + output;
    record(dir, "start " + me);

    std::ifstream how(dir + output + ".how", std::ios::binary);
    if (output.empty() || !how) {
        record(dir, "end " + me);
        return 0;
    }
    std::string first;
    std::getline(how, first);
    std::istringstream numbers(first);
    unsigned long sleepMs = 0;
    int exitCode = 0;
    numbers >> sleepMs >> exitCode;
    std::ostringstream answer;
    answer << how.rdbuf();

    Sleep(sleepMs);
    if (!answer.str().empty())
        std::ofstream(output, std::ios::binary) << answer.str();
    record(dir, "end " + me);
    return exitCode;
}
