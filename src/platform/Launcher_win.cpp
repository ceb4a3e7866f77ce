// Windows launcher: the shell starts the program hidden and hands back a
// process handle; the new process splits the parameter text into its
// arguments itself.
#include "platform/Launcher.h"

#include "platform/WideText_win.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <climits>

namespace movik::platform {

struct ChildProcess::Data
{
    HANDLE process = nullptr;
    DWORD id = 0;
    bool ended = false;
    int status = -1;

    ~Data()
    {
        if (process)
            ::CloseHandle(process);
    }

    // Called once the handle is signalled.
    void collect()
    {
        DWORD code = 0;
        ended = true;
        status = ::GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    }
};

ChildProcess::ChildProcess() = default;
ChildProcess::ChildProcess(std::unique_ptr<Data> data) : m_data(std::move(data)) {}
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

bool ChildProcess::known() const
{
    return m_data && m_data->process;
}

long ChildProcess::id() const
{
    return known() ? static_cast<long>(m_data->id) : 0;
}

bool ChildProcess::waitFor(int boundMs, const std::function<bool()>& stopRequested)
{
    if (known() && m_data->ended)
        return true;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(boundMs, 0));
    for (;;) {
        if (stopRequested && stopRequested())
            return false;
        const ULONGLONG now = ::GetTickCount64();
        DWORD slice =
            now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
        if (stopRequested)
            slice = std::min<DWORD>(slice, stopCheckMs);
        if (!known()) {
            // No handle: nothing tells when it ends, so the bound is the wait.
            ::Sleep(slice);
        } else if (::WaitForSingleObject(m_data->process, slice) == WAIT_OBJECT_0) {
            m_data->collect();
            return true;
        }
        if (::GetTickCount64() >= deadline)
            return false;
    }
}

ChildProcess::State ChildProcess::state()
{
    if (!known())
        return State::Unknown;
    return waitFor(0) ? State::Exited : State::Running;
}

int ChildProcess::exitStatus() const
{
    return known() && m_data->ended ? m_data->status : -1;
}

void ChildProcess::end()
{
    if (!known() || waitFor(0))
        return;
    ::TerminateProcess(m_data->process, 1);
    // Ending is asynchronous; the handle is signalled once the process is gone.
    if (::WaitForSingleObject(m_data->process, 10000) == WAIT_OBJECT_0)
        m_data->collect();
}

LaunchResult launchProcess(const std::string& executable, const std::string& parameters,
                           const std::string& workingDirectory)
{
    LaunchResult result;
    // The names are UTF-8. The parameters go through the ANSI code page both
    // ways: the tool reads its arguments in that code page, so each byte of
    // the text (an identifier's UTF-8 among them) reaches it unchanged.
    const std::wstring file = wideText(executable);
    const std::wstring text = wideText(parameters, CP_ACP);
    const std::wstring directory = wideText(workingDirectory);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = file.c_str();
    info.lpParameters = text.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = SW_HIDE;
    const BOOL ok = ::ShellExecuteExW(&info);
    // Not a real module handle: a number, above 32 when the program started.
    const INT_PTR code = reinterpret_cast<INT_PTR>(info.hInstApp);
    if (!ok || code <= 32) {
        if (info.hProcess)
            ::CloseHandle(info.hProcess);
        result.code = code > 0 && code <= 32 ? static_cast<int>(code) : static_cast<int>(::GetLastError());
        return result;
    }
    result.started = true;
    result.code = static_cast<int>(std::min<INT_PTR>(code, INT_MAX));
    // A Linux program started under Wine comes without a handle.
    if (info.hProcess) {
        auto data = std::make_unique<ChildProcess::Data>();
        data->process = info.hProcess;
        data->id = ::GetProcessId(info.hProcess);
        result.process = ChildProcess(std::move(data));
    }
    return result;
}

// Windows keeps no zombies: a finished child needs nothing from us.
int reapChildren()
{
    return 0;
}

} // namespace movik::platform
