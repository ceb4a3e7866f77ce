// Stand-in for the transfer tool in the launcher tests. Waits for the test
// to create "go" in its working directory, so that the test can tell the
// launcher returned while this program was still running, then writes what
// it received to "arguments.txt" there: "go" or "no go", how its window was
// to be shown, then each argument on a line of its own, then a line ".".
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

std::string showState()
{
#ifdef _WIN32
    STARTUPINFOA info{};
    info.cb = sizeof info;
    ::GetStartupInfoA(&info);
    if (info.dwFlags & STARTF_USESHOWWINDOW)
        return "show " + std::to_string(info.wShowWindow);
    return "show default";
#else
    return "show none";
#endif
}

bool waitForGo()
{
    for (int i = 0; i < 3000; ++i) {
        if (std::filesystem::exists("go"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const bool go = waitForGo();
    {
        std::ofstream out("arguments.tmp", std::ios::binary | std::ios::trunc);
        out << (go ? "go" : "no go") << '\n' << showState() << '\n';
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
        out << ".\n";
    }
    // Renamed when complete: the test never sees half a file.
    return std::rename("arguments.tmp", "arguments.txt") == 0 ? 0 : 1;
}
