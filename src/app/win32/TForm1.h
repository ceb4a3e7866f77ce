// The program's window in the Win32 API: the operator's text area and status
// light, the "Automatic Poll" switch, "Clear", and the timer that drives the
// poll cycle. It only draws and forwards; MainWindowLogic decides. The window
// is found by its caption
// "ZUN Visitor - Dortex Interface" or its class name "TForm1".
#pragma once

#include "app/MainWindowLogic.h"
#include "app/MainWindowView.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

namespace movik {

class TForm1 : public MainWindowView
{
public:
    // Creates the window without showing it, laid out for dpi pixels per
    // inch (0: the screen's).
    explicit TForm1(HINSTANCE instance, int dpi = 0);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND handle() const { return m_window; }
    // Forwards the window's events to logic from now on, and starts the
    // program up in the program directory appPath (ending with the separator).
    void start(MainWindowLogic& logic, const std::string& appPath);
    // Shows the window; the first showing starts Timer1.
    void show(int showCommand);
    // Runs the message loop until the window is closed; the exit code.
    int run();
    // Asks Windows to start the program again after an installer's Restart
    // Manager closed it to replace its files, and only then: not after a
    // crash, a hang or a restart of Windows (the Startup shortcut starts it
    // at sign-in, and a second copy would only be refused). False when
    // Windows refused.
    static bool registerForRestart();

    void appendLine(const std::string& line) override;
    void clearLines() override;
    void setLight(const StatusLightView& light) override;
    bool automaticPoll() const override;
    void setAutomaticPoll(bool ticked) override;
    void setTimerEnabled(bool enabled) override;
    void deliverStopRequests() override;
    void closeWindow() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK memoProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The handlers of the messages the window takes.
    LRESULT onCreate();
    void onShowWindow(bool shown);
    LRESULT onTimer(WPARAM id);
    LRESULT onCommand(WORD id, WORD code);
    LRESULT onDrawItem(const DRAWITEMSTRUCT& item);
    LRESULT onMemoColours(HDC dc);
    LRESULT onFaceColours(HDC dc);
    LRESULT onClose();
    LRESULT onQueryEndSession();
    LRESULT onEndSession(bool ending, LPARAM reason);
    LRESULT onNcDestroy(UINT message, WPARAM wParam, LPARAM lParam);
    void createParts();
    // Pixels at the screen's DPI for a size laid out at 96.
    int scaled(int pixelsAt96) const;
    // A control, placed and sized in pixels at 96 DPI.
    HWND createChild(DWORD exStyle, const wchar_t* kind, const char* text, DWORD style, int left, int top,
                     int width, int height, int id);
    // Counts Memo1's lines anew from its text.
    void countMemoLines();
    void drawLight(const DRAWITEMSTRUCT& item);
    // Draws CheckBox1's caption narrower where the font is wider than the
    // control allows, and widens the control only where no narrower drawing
    // fits.
    void fitSwitchCaption();

    HINSTANCE m_instance;
    int m_dpi = 96;
    HWND m_window = nullptr;
    HWND Memo1 = nullptr;
    HWND Button4 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND Status_LED = nullptr;
    HWND m_toolTip = nullptr;
    HFONT m_font = nullptr;
    HFONT m_memoFont = nullptr;
    HFONT m_switchFont = nullptr; // CheckBox1's, when m_font is too wide for it
    COLORREF m_lightFill = RGB(255, 255, 255);
    std::wstring m_toolTipText;
    // Lengths of Memo1's ended lines with their CR LF, oldest first, to drop
    // the oldest; its whole length and that of a last line without an end
    // (the operator's typing), to notice typing since the last line.
    std::deque<int> m_memoLines;
    int m_memoLength = 0;
    int m_memoOpenLine = 0;
    bool m_shown = false;
    MainWindowLogic* m_logic = nullptr;
};

} // namespace movik
