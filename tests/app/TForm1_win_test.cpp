// The Win32 window, real controls under Wine: its parts as laid out, the
// fonts, the light's name and tooltip, the text area's line limit, "Clear",
// a tick of Timer1 and closing.
#include "RecordingImport.h"
#include "TempDir.h"
#include "app/Program.h"
#include "app/win32/TForm1.h"

#include <commctrl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

using namespace movik;
using namespace movik::test;

namespace {

// The window with the program's own parts over database, started in dir as
// main starts it.
struct StartedForm
{
    StartedForm(const TempDir& dir, CardImport& database, int dpi = 0)
        : form(GetModuleHandleA(nullptr), dpi), program(form, database)
    {
        form.start(program.logic(), dir.path());
    }
    TForm1 form;
    Program program;
};

std::string textOf(HWND window)
{
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string classOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A part's rectangle in the window's client pixels: left, top, width, height.
std::string placeOf(HWND part)
{
    RECT r;
    GetWindowRect(part, &r);
    MapWindowPoints(nullptr, GetParent(part), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
           "x" + std::to_string(r.bottom - r.top);
}

LOGFONTA fontOf(HWND part)
{
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(part, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

std::string toolTipOf(HWND form, HWND part)
{
    struct Search
    {
        HWND form;
        HWND found = nullptr;
    } search{form};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (classOf(window) == TOOLTIPS_CLASSA && GetWindow(window, GW_OWNER) == s->form)
                s->found = window;
            return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr)
        return "(no tooltip)";
    char text[512] = {};
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = form;
    tool.uId = reinterpret_cast<UINT_PTR>(part);
    tool.lpszText = text;
    SendMessageA(search.found, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
    return text;
}

} // namespace

TEST(Win32Form1, PartsAsLaidOut)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\r\nAutoPoll=1\r\n");
    RecordingImport database;
    StartedForm started(dir, database);
    TForm1& form = started.form;
    const HWND window = form.handle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowA("TForm1", "ZUN Visitor - Dortex Interface"), window);
    EXPECT_EQ(database.connects, 1);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, 192);
    EXPECT_EQ(outer.top, 125);
    EXPECT_EQ(outer.right - outer.left, 552);
    EXPECT_EQ(outer.bottom - outer.top, 388);
    EXPECT_NE(GetClassLongPtrA(window, GCLP_HICON), 0) << "the window has its icon";
    EXPECT_NE(GetClassLongPtrA(window, GCLP_HICONSM), 0);

    // In tab order.
    const HWND memo = GetWindow(window, GW_CHILD);
    const HWND button = GetWindow(memo, GW_HWNDNEXT);
    const HWND box = GetWindow(button, GW_HWNDNEXT);
    const HWND light = GetWindow(box, GW_HWNDNEXT);
    EXPECT_EQ(classOf(memo), "Edit");
    EXPECT_EQ(placeOf(memo), "16,16 505x289");
    EXPECT_EQ(textOf(memo), "");
    EXPECT_EQ(GetWindowLongA(memo, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL | ES_READONLY), 0);
    EXPECT_EQ(classOf(button), "Button");
    EXPECT_EQ(placeOf(button), "432,312 75x25");
    EXPECT_EQ(textOf(button), "Clear");
    EXPECT_EQ(placeOf(box), "320,312 97x17");
    EXPECT_EQ(textOf(box), "Automatic Poll");
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(placeOf(light), "24,312 17x17");
    for (HWND part : {memo, button, box})
        EXPECT_TRUE(GetWindowLongA(part, GWL_STYLE) & WS_TABSTOP) << classOf(part);

    EXPECT_EQ(std::string(fontOf(button).lfFaceName), "MS Sans Serif");
    EXPECT_EQ(fontOf(button).lfHeight, -11);
    EXPECT_EQ(fontOf(box).lfHeight, -11);
    EXPECT_EQ(std::string(fontOf(memo).lfFaceName), "MS Sans Serif");
    EXPECT_EQ(fontOf(memo).lfHeight, -21);

    EXPECT_EQ(textOf(light), "Status: no poll read yet");
    EXPECT_EQ(toolTipOf(window, light).rfind("White: ", 0), 0u) << toolTipOf(window, light);
}

// "Automatic Poll" drawn in its font, measured against its control, at the
// window's three usual sizes: whole, after the box's 16 pixels (at 96 DPI),
// and the control never past "Clear".
TEST(Win32Form1, TheSwitchCaptionFitsItsControlAtEveryDpi)
{
    TempDir dir;
    RecordingImport database;
    for (int dpi : {96, 144, 192}) {
        StartedForm started(dir, database, dpi);
        TForm1& form = started.form;
        const HWND box = GetDlgItem(form.handle(), 103);
        const HWND button = GetDlgItem(form.handle(), 102);
        HDC dc = GetDC(box);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
        SIZE text{};
        GetTextExtentPoint32W(dc, L"Automatic Poll", 14, &text);
        SelectObject(dc, old);
        ReleaseDC(box, dc);
        RECT control;
        RECT clear;
        GetWindowRect(box, &control);
        GetWindowRect(button, &clear);
        EXPECT_LE(MulDiv(16, dpi, 96) + text.cx, control.right - control.left) << dpi << " DPI";
        EXPECT_LE(control.right, clear.left) << dpi << " DPI";
    }
}

TEST(Win32Form1, TextAreaClearTimerAndClosing)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\r\nAutoPoll=1\r\nCurlPath=" + dir.file("nowhere") +
                                         "\r\nCurlURL=http://127.0.0.1:9/\r\nPollWaitMSec=0\r\n");
    RecordingImport database;
    StartedForm started(dir, database);
    TForm1& form = started.form;
    const HWND window = form.handle();
    const HWND memo = GetWindow(window, GW_CHILD);
    const HWND button = GetWindow(memo, GW_HWNDNEXT);
    const HWND light = GetWindow(GetWindow(button, GW_HWNDNEXT), GW_HWNDNEXT);

    for (int i = 0; i < memoLineLimit + 3; ++i)
        form.appendLine("line " + std::to_string(i));
    const std::string text = textOf(memo);
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, static_cast<std::size_t>(memoLineLimit));
    EXPECT_EQ(text.rfind("line 3\r\n", 0), 0u) << text.substr(0, 40);

    SendMessageA(button, BM_CLICK, 0, 0);
    EXPECT_EQ(textOf(memo), "");
    SetWindowTextA(memo, "typed");
    form.appendLine("next");
    EXPECT_EQ(textOf(memo), "typed\r\nnext\r\n") << "a new line starts at the left";

    // Lines are UTF-8 text; the cap removes whole lines, the operator's
    // typing counted as the lines it makes.
    form.appendLine("> Updating Card: \xc3\xa9\xe8\xae\xbf");
    wchar_t wide[64] = {};
    GetWindowTextW(memo, wide, 64);
    EXPECT_EQ(std::wstring(wide), L"typed\r\nnext\r\n> Updating Card: \u00e9\u8bbf\r\n");
    SetWindowTextA(memo, "one typed line\r\nand an unended one");
    for (int i = 0; i < memoLineLimit; ++i)
        form.appendLine("line " + std::to_string(i));
    EXPECT_EQ(textOf(memo).rfind("line 0\r\n", 0), 0u) << textOf(memo).substr(0, 40);

    // A tick runs the real cycle: no transfer tool, no answer, a red light.
    SendMessageA(window, WM_TIMER, 1, 0);
    EXPECT_EQ(database.cycles, 1);
    EXPECT_EQ(textOf(light), "Status: last poll failed");
    EXPECT_EQ(toolTipOf(window, light).rfind("Red: ", 0), 0u) << toolTipOf(window, light);

    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(FindWindowA("TForm1", "ZUN Visitor - Dortex Interface"), nullptr);
}

// An installer's Restart Manager asks the window to end the program
// (WM_QUERYENDSESSION, then WM_ENDSESSION, both with ENDSESSION_CLOSEAPP):
// the session goes on, so the window closes itself and the program ends,
// after registering to be started again. Wine implements the registration
// but not reading it back (E_NOTIMPL): only where it does are the flags read.
TEST(Win32Form1, RestartManagersCloseEndsTheProgramAndItIsStartedAgain)
{
    TempDir dir;
    RecordingImport database;
    StartedForm started(dir, database);
    TForm1& form = started.form;
    const HWND window = form.handle();
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), TRUE);
    EXPECT_TRUE(IsWindow(window)) << "asked, not yet told";
    SendMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    EXPECT_FALSE(IsWindow(window));
    MSG quit{};
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the message loop ends";
    EXPECT_EQ(countOf(logMessages(dir), "--- MOVIK stopped ---"), 1);

    EXPECT_TRUE(TForm1::registerForRestart());
    WCHAR command[64] = {};
    DWORD size = 64;
    DWORD flags = 0;
    if (SUCCEEDED(GetApplicationRestartSettings(GetCurrentProcess(), command, &size, &flags))) {
        EXPECT_EQ(flags, static_cast<DWORD>(RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT));
    }
}
