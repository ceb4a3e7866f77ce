#include "app/win32/TForm1.h"

#include "platform/WideText_win.h"

#include <commctrl.h>

namespace movik {

using platform::wideText;

namespace {

const wchar_t* const windowClass = L"TForm1";
const char* const caption = "ZUN Visitor - Dortex Interface";

// Control identifiers; the icon's resource number is in movik.rc.
enum : int {
    Memo1Id = 101,
    Button4Id = 102,
    CheckBox1Id = 103,
    Status_LEDId = 104,
    Timer1Id = 1,
    iconResource = 1,
};

// "MS Sans Serif" at a character height in pixels: 8 points at 96 pixels per
// inch is 11 pixels, the size the window was laid out for. An average
// character width (0: the font's own) draws it narrower.
HFONT windowFont(int characterHeight, int characterWidth = 0)
{
    return CreateFontW(-characterHeight, characterWidth, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
}

// How wide text is drawn in font, in pixels; its average character width too.
int drawnWidth(HWND part, HFONT font, const std::wstring& text, int* characterWidth = nullptr)
{
    HDC dc = GetDC(part);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (characterWidth != nullptr) {
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        *characterWidth = metrics.tmAveCharWidth;
    }
    SelectObject(dc, old);
    ReleaseDC(part, dc);
    return size.cx;
}

COLORREF colourOf(StatusLight light)
{
    const LightFill fill = fillOf(light);
    return RGB(fill.red, fill.green, fill.blue);
}

bool registerWindowClass(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, windowClass, &existing))
        return true;
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(iconResource));
    cls.hIconSm =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconResource), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    cls.lpszClassName = windowClass;
    return RegisterClassExW(&cls) != 0;
}

// The screen's pixels per inch; the manifest makes the program DPI-aware,
// so Windows no longer stretches a window laid out for 96.
int screenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

} // namespace

TForm1::TForm1(HINSTANCE instance, int dpi) : m_instance(instance), m_dpi(dpi > 0 ? dpi : screenDpi())
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    registerWindowClass(instance, &TForm1::windowProc);
    // Laid out at 96 pixels per inch, 552 x 388 outside; at another DPI the
    // window, its parts and its fonts scale with the screen.
    CreateWindowExW(0, windowClass, wideText(caption).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    scaled(192), scaled(125), scaled(552), scaled(388), nullptr, nullptr, instance, this);
}

void TForm1::start(MainWindowLogic& logic, const std::string& appPath)
{
    m_logic = &logic;
    m_logic->FormCreate(appPath);
}

void TForm1::fitSwitchCaption()
{
    // The caption starts 16 pixels (at 96 DPI) into the control, after the box.
    const std::wstring caption = L"Automatic Poll";
    auto fits = [this](int captionWidth) { return scaled(16) + captionWidth <= scaled(97); };
    int characterWidth = 0;
    const int width = drawnWidth(CheckBox1, m_font, caption, &characterWidth);
    if (width <= 0 || fits(width))
        return;
    // Narrower, down to four fifths of the font's own width, as the Qt
    // window draws its stand-in font semi-condensed.
    for (int average = characterWidth - 1; average * 5 >= characterWidth * 4 && average > 0; --average) {
        HFONT narrower = windowFont(scaled(11), average);
        if (fits(drawnWidth(CheckBox1, narrower, caption))) {
            m_switchFont = narrower;
            SendMessageW(CheckBox1, WM_SETFONT, reinterpret_cast<WPARAM>(m_switchFont), FALSE);
            return;
        }
        DeleteObject(narrower);
    }
    // No narrower drawing fits: the control grows to the right, up to the
    // "Clear" button's edge (15 pixels at 96 DPI).
    RECT box;
    GetWindowRect(CheckBox1, &box);
    SetWindowPos(CheckBox1, nullptr, 0, 0, scaled(112), box.bottom - box.top, SWP_NOMOVE | SWP_NOZORDER);
}

int TForm1::scaled(int pixelsAt96) const
{
    return MulDiv(pixelsAt96, m_dpi, 96);
}

HWND TForm1::createChild(DWORD exStyle, const wchar_t* kind, const char* text, DWORD style, int left, int top,
                         int width, int height, int id)
{
    return CreateWindowExW(exStyle, kind, wideText(text).c_str(), WS_CHILD | WS_VISIBLE | style, scaled(left),
                           scaled(top), scaled(width), scaled(height), m_window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
}

TForm1::~TForm1()
{
    m_logic = nullptr;
    if (m_window != nullptr)
        DestroyWindow(m_window);
    if (m_toolTip != nullptr)
        DestroyWindow(m_toolTip);
    DeleteObject(m_font);
    DeleteObject(m_memoFont);
    if (m_switchFont != nullptr)
        DeleteObject(m_switchFont);
}

void TForm1::createParts()
{
    m_font = windowFont(scaled(11));
    m_memoFont = windowFont(scaled(21));

    // Created in tab order: Memo1, Button4, CheckBox1.
    // No scroll bars and no horizontal scrolling: long lines wrap.
    Memo1 =
        createChild(WS_EX_CLIENTEDGE, L"EDIT", "", WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL,
                    16, 16, 505, 289, Memo1Id);
    // The edit control's own limit (32767 characters) would end the text
    // long before the line limit does.
    SendMessageW(Memo1, EM_SETLIMITTEXT, 0, 0);
    SetWindowSubclass(Memo1, &TForm1::memoProc, 0, 0);

    Button4 = createChild(0, L"BUTTON", "Clear", WS_TABSTOP | BS_PUSHBUTTON, 432, 312, 75, 25, Button4Id);
    CheckBox1 = createChild(0, L"BUTTON", "Automatic Poll", WS_TABSTOP | BS_AUTOCHECKBOX, 320, 312, 97, 17,
                            CheckBox1Id);
    // Drawn here (fill and outline); its window text is its accessible name.
    Status_LED = createChild(0, L"STATIC", "", SS_OWNERDRAW | SS_NOTIFY, 24, 312, 17, 17, Status_LEDId);

    for (HWND part : {Button4, CheckBox1, Status_LED})
        SendMessageW(part, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    SendMessageW(Memo1, WM_SETFONT, reinterpret_cast<WPARAM>(m_memoFont), FALSE);
    fitSwitchCaption();

    m_toolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_instance, nullptr);
    SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, scaled(320));
    TTTOOLINFOW tool{};
    // The size every common-controls version accepts.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(Status_LED);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TForm1::show(int showCommand)
{
    ShowWindow(m_window, showCommand);
    UpdateWindow(m_window);
    SetFocus(Memo1);
}

int TForm1::run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab and Shift+Tab move between the controls.
        if (m_window != nullptr && IsDialogMessageW(m_window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK TForm1::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return form->onMessage(message, wParam, lParam);
}

// Each message the window handles goes to its handler; the rest to Windows.
LRESULT TForm1::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return onCreate();
    case WM_SHOWWINDOW:
        onShowWindow(wParam != 0);
        break;
    case WM_TIMER:
        return onTimer(wParam);
    case WM_COMMAND:
        return onCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_DRAWITEM:
        if (wParam == Status_LEDId)
            return onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        break;
    case WM_CTLCOLOREDIT:
        if (reinterpret_cast<HWND>(lParam) == Memo1)
            return onMemoColours(reinterpret_cast<HDC>(wParam));
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return onFaceColours(reinterpret_cast<HDC>(wParam));
    case WM_CLOSE:
        return onClose();
    case WM_QUERYENDSESSION:
        return onQueryEndSession();
    case WM_ENDSESSION:
        return onEndSession(wParam != 0, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        return onNcDestroy(message, wParam, lParam);
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

LRESULT TForm1::onCreate()
{
    createParts();
    return 0;
}

void TForm1::onShowWindow(bool shown)
{
    if (shown && !m_shown && m_logic) {
        m_shown = true;
        m_logic->FormShow();
    }
}

LRESULT TForm1::onTimer(WPARAM id)
{
    if (id == Timer1Id && m_logic)
        m_logic->Timer1Timer();
    return 0;
}

LRESULT TForm1::onCommand(WORD id, WORD code)
{
    if (id == Button4Id && code == BN_CLICKED && m_logic)
        m_logic->Button4Click();
    else if (id == CheckBox1Id && code == BN_CLICKED && m_logic)
        m_logic->CheckBox1Click();
    return 0;
}

LRESULT TForm1::onDrawItem(const DRAWITEMSTRUCT& item)
{
    drawLight(item);
    return TRUE;
}

LRESULT TForm1::onMemoColours(HDC dc)
{
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

LRESULT TForm1::onFaceColours(HDC dc)
{
    // The check box and the button sit on the window's face.
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT TForm1::onClose()
{
    // During a cycle the logic remembers it and closes the window after.
    if (m_logic && !m_logic->closeRequested())
        return 0;
    DestroyWindow(m_window);
    return 0;
}

LRESULT TForm1::onQueryEndSession()
{
    if (m_logic)
        m_logic->sessionEnding(false);
    return TRUE;
}

LRESULT TForm1::onEndSession(bool ending, LPARAM reason)
{
    // An installer's Restart Manager closes the program to replace it: the
    // session goes on, so the program ends itself, as after a close (after
    // the visitor in hand, when a cycle runs).
    if (ending && (reason & ENDSESSION_CLOSEAPP) != 0)
        return onClose();
    // Windows is logging off or shutting down: the window is not closed
    // first, and the process may end as soon as this returns.
    if (ending && m_logic)
        m_logic->sessionEnding(true);
    return 0;
}

bool TForm1::registerForRestart()
{
    return SUCCEEDED(RegisterApplicationRestart(L"", RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT));
}

LRESULT TForm1::onNcDestroy(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = m_window;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    m_window = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TForm1::memoProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    LRESULT result = DefSubclassProc(memo, message, wParam, lParam);
    // Tab leaves the text area instead of typing a tab; Enter still types a line break.
    if (message == WM_GETDLGCODE && lParam != 0) {
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if ((key->message == WM_KEYDOWN || key->message == WM_CHAR) && key->wParam == VK_TAB)
            result &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(memo, &TForm1::memoProc, 0);
    return result;
}

void TForm1::drawLight(const DRAWITEMSTRUCT& item)
{
    // The fill inside a one-pixel black outline on the outermost pixels.
    HBRUSH fill = CreateSolidBrush(m_lightFill);
    FillRect(item.hDC, &item.rcItem, fill);
    DeleteObject(fill);
    FrameRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void TForm1::countMemoLines()
{
    const int length = GetWindowTextLengthW(Memo1);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(Memo1, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    m_memoLines.clear();
    std::size_t from = 0;
    for (std::size_t end; (end = text.find(L"\r\n", from)) != std::wstring::npos; from = end + 2)
        m_memoLines.push_back(static_cast<int>(end + 2 - from));
    m_memoOpenLine = static_cast<int>(text.size() - from);
    m_memoLength = length;
}

void TForm1::appendLine(const std::string& line)
{
    // What the operator typed since the last line changes the lines' lengths.
    if (GetWindowTextLengthW(Memo1) != m_memoLength)
        countMemoLines();
    // A line the operator typed without ending it is ended first, so the new
    // line starts at the left and the whole typed line is one of the lines.
    const std::wstring text = (m_memoOpenLine > 0 ? L"\r\n" : L"") + wideText(line) + L"\r\n";
    SendMessageW(Memo1, EM_SETSEL, m_memoLength, m_memoLength);
    SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    if (m_memoOpenLine > 0)
        m_memoLines.push_back(m_memoOpenLine + 2);
    m_memoLines.push_back(static_cast<int>(text.size()) - (m_memoOpenLine > 0 ? 2 : 0));
    m_memoLength += static_cast<int>(text.size());
    m_memoOpenLine = 0;
    // Months of unattended polling would otherwise grow it without bound.
    while (m_memoLines.size() > memoLineLimit) {
        SendMessageW(Memo1, EM_SETSEL, 0, m_memoLines.front());
        SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
        m_memoLength -= m_memoLines.front();
        m_memoLines.pop_front();
    }
    SendMessageW(Memo1, EM_SETSEL, m_memoLength, m_memoLength);
    SendMessageW(Memo1, EM_SCROLLCARET, 0, 0);
}

void TForm1::clearLines()
{
    SetWindowTextW(Memo1, L"");
    m_memoLines.clear();
    m_memoLength = 0;
    m_memoOpenLine = 0;
}

void TForm1::setLight(const StatusLightView& light)
{
    m_lightFill = colourOf(light.colour);
    SetWindowTextW(Status_LED, wideText(light.name).c_str());
    m_toolTipText = wideText(light.description);
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(Status_LED);
    tool.lpszText = m_toolTipText.data();
    SendMessageW(m_toolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    InvalidateRect(Status_LED, nullptr, FALSE);
    UpdateWindow(Status_LED);
}

bool TForm1::automaticPoll() const
{
    return SendMessageW(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::setAutomaticPoll(bool ticked)
{
    SendMessageW(CheckBox1, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm1::deliverStopRequests()
{
    // Only the messages that ask the program to stop: a posted WM_CLOSE is
    // taken from the queue and handed on (the logic carries it out after
    // the cycle); any peek delivers the messages sent to the window,
    // WM_QUERYENDSESSION and WM_ENDSESSION among them. Input stays queued
    // for after the cycle.
    MSG message;
    while (PeekMessageW(&message, m_window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
        // A pending WM_QUIT comes whatever the filter: it is the message
        // loop's, and goes back.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        onClose();
    }
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void TForm1::closeWindow()
{
    PostMessageW(m_window, WM_CLOSE, 0, 0);
}

void TForm1::setTimerEnabled(bool enabled)
{
    // Setting it again restarts the full interval.
    if (enabled)
        SetTimer(m_window, Timer1Id, Timer1IntervalMs, nullptr);
    else
        KillTimer(m_window, Timer1Id);
}

} // namespace movik
