#include "convert_window.h"

#include "commands.h"
#include "text_encoding.h"
#include "win32_message_boxes.h"

#include <algorithm>
#include <shellapi.h>

namespace quillmere::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"QuillMereConvert";
// A fixed frame: nothing in the window reacts to a new size.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Above IDOK and IDCANCEL, which the dialog manager sends for Enter and Esc.
constexpr int kFirstControlId = 100;
constexpr int kIconId = 1;
constexpr wchar_t kClassicFace[] = L"MS Sans Serif";
constexpr int kWindowFontSize = 800; // hundredths of a point
constexpr int kAboutFontSize = 825;
constexpr int kHundredthsPerInch = 7200;

std::wstring systemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : L"system error";
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.'))
        text.pop_back();
    return text;
}

// Registered once for the process: tests create the window many times.
bool registerWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (::GetClassInfoExW(instance, kWindowClass, &windowClass))
        return true;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    return ::RegisterClassExW(&windowClass) != 0;
}

FontHandle classicFont(int hundredthsOfPoint, int dpi) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(hundredthsOfPoint, dpi, kHundredthsPerInch);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    std::copy(std::begin(kClassicFace), std::end(kClassicFace), font.lfFaceName);
    return FontHandle(::CreateFontIndirectW(&font));
}

COLORREF colourOf(Paint paint, int systemColour) {
    switch (paint) {
    case Paint::Black:
        return RGB(0, 0, 0);
    case Paint::White:
        return RGB(255, 255, 255);
    case Paint::System:
        break;
    }
    return ::GetSysColor(systemColour);
}

HBRUSH brushOf(Paint paint, int systemColour) {
    switch (paint) {
    case Paint::Black:
        return static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    case Paint::White:
        return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    case Paint::System:
        break;
    }
    return ::GetSysColorBrush(systemColour);
}

} // namespace

Convert::Convert(HINSTANCE instance, MessageBoxes* messages)
    : instance_(instance), messages_(messages) {
    if (!registerWindowClass(instance, WindowProc)) {
        failure_ = systemText(::GetLastError());
        return;
    }
    const std::wstring caption = widen(kWindowCaption);
    // Placed where the system puts new windows; sized in WM_CREATE, once its DPI is known.
    ::CreateWindowExW(0, kWindowClass, caption.c_str(), kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      0, 0, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        failure_ = systemText(::GetLastError());
        return;
    }
    if (messages_ == nullptr) {
        ownMessages_ = std::make_unique<Win32MessageBoxes>(window_);
        messages_ = ownMessages_.get();
    }
}

Convert::~Convert() {
    if (window_ == nullptr)
        return;
    // Destroyed with its owner, not by the person: the program does not end here.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
}

bool Convert::takeDialogMessage(MSG& message) {
    if (window_ == nullptr)
        return false;
    // The classic edit box has no Ctrl+A of its own.
    const bool inBox = message.hwnd == control(Control::mapPathBox) ||
                       message.hwnd == control(Control::outputPathBox);
    if (inBox && message.message == WM_KEYDOWN && message.wParam == 'A' &&
        ::GetKeyState(VK_CONTROL) < 0 && ::GetKeyState(VK_MENU) >= 0) {
        ::SendMessageW(message.hwnd, EM_SETSEL, 0, -1);
        return true;
    }
    return ::IsDialogMessageW(window_, &message);
}

LRESULT CALLBACK Convert::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Convert* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Convert*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Convert*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    return self != nullptr ? self->HandleMessage(message, wParam, lParam)
                           : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Convert::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (!createControls())
            return -1; // CreateWindowExW fails, and says why
        applyDpi(static_cast<int>(::GetDpiForWindow(window_)), nullptr);
        ::DragAcceptFiles(window_, TRUE);
        return 0;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        const POINT topLeft{suggested->left, suggested->top};
        applyDpi(HIWORD(wParam), &topLeft);
        return 0;
    }
    case WM_ACTIVATE:
        onActivate(LOWORD(wParam) != WA_INACTIVE, HIWORD(wParam) != 0);
        return 0;
    case WM_SETFOCUS:
        ::SetFocus(lastFocus_);
        return 0;
    case WM_NEXTDLGCTL:
        // What the dialog manager asks of a dialog; this window answers it alike.
        ::SetFocus(LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                       : ::GetNextDlgTabItem(window_, ::GetFocus(), wParam != 0));
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        return paintControl(message, reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_DROPFILES:
        onDroppedFiles(wParam);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        const HWND window = window_;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        window_ = nullptr;
        controls_.fill(nullptr);
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

bool Convert::createControls() {
    auto create = [this](const ControlLayout& layout) {
        const std::size_t index = indexOf(layout.role);
        const wchar_t* windowClass = L"BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD extendedStyle = 0;
        switch (layout.kind) {
        case ControlKind::Label:
            windowClass = L"STATIC";
            style |= SS_LEFT;
            break;
        case ControlKind::TextBox:
            windowClass = L"EDIT";
            style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
            extendedStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Button:
            // Never BS_DEFPUSHBUTTON: no button is the default, so Enter in a box presses none.
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        }
        controls_[index] = ::CreateWindowExW(
            extendedStyle, windowClass, widen(layout.text).c_str(), style, 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)), instance_,
            nullptr);
        if (layout.kind == ControlKind::TextBox)
            ::SendMessageW(controls_[index], EM_SETLIMITTEXT, 0, 0); // no limit
    };
    // The dialog manager tabs in creation order: the labels first, then the focus order.
    for (const auto& layout : kControlLayouts)
        if (layout.kind == ControlKind::Label)
            create(layout);
    for (const Control role : kFocusOrder)
        create(layoutOf(role));
    lastFocus_ = control(kFocusOrder.front());
    return std::find(controls_.begin(), controls_.end(), nullptr) == controls_.end();
}

void Convert::applyDpi(int dpi, const POINT* topLeft) {
    FontHandle windowFont = classicFont(kWindowFontSize, dpi);
    FontHandle aboutFont = classicFont(kAboutFontSize, dpi);
    for (std::size_t index = 0; index < controls_.size(); ++index) {
        const PixelRect pixels = pixelRect(kControlLayouts[index], dpi);
        ::SetWindowPos(controls_[index], nullptr, pixels.left, pixels.top, pixels.width(),
                       pixels.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        const HFONT font = kControlLayouts[index].role == Control::aboutButton ? aboutFont.get()
                                                                               : windowFont.get();
        ::SendMessageW(controls_[index], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    // The controls hold the new fonts now; the old ones can go.
    windowFont_ = std::move(windowFont);
    aboutFont_ = std::move(aboutFont);

    resizeFrame(clientPixelRect(dpi), dpi, topLeft);
    ::InvalidateRect(window_, nullptr, TRUE);
}

// Sizes the frame so that the client area is exactly `client`.
void Convert::resizeFrame(const PixelRect& client, int dpi, const POINT* topLeft) {
    RECT frame{0, 0, client.width(), client.height()};
    ::AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)),
                               FALSE, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)),
                               static_cast<UINT>(dpi));
    SIZE size{frame.right - frame.left, frame.bottom - frame.top};
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (topLeft != nullptr ? 0 : SWP_NOMOVE);
    const POINT at = topLeft != nullptr ? *topLeft : POINT{};
    ::SetWindowPos(window_, nullptr, at.x, at.y, size.cx, size.cy, flags);
    // Wine draws the frame at the system's DPI, not the window's: whatever the estimate
    // missed, the client area says.
    RECT actual{};
    ::GetClientRect(window_, &actual);
    if (::IsIconic(window_) || (actual.right == client.width() && actual.bottom == client.height()))
        return;
    size.cx += client.width() - actual.right;
    size.cy += client.height() - actual.bottom;
    ::SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, flags | SWP_NOMOVE);
}

LRESULT Convert::paintControl(UINT message, HWND control, HDC dc) {
    const auto found = std::find(controls_.begin(), controls_.end(), control);
    if (control == nullptr || found == controls_.end())
        return ::DefWindowProcW(window_, message, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(control));
    const ControlLayout& layout =
        kControlLayouts[static_cast<std::size_t>(found - controls_.begin())];
    const bool box = layout.kind == ControlKind::TextBox;
    const int systemBackground = box ? COLOR_WINDOW : COLOR_BTNFACE;
    ::SetTextColor(dc, colourOf(layout.foreground, box ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
    ::SetBkColor(dc, colourOf(layout.background, systemBackground));
    return reinterpret_cast<LRESULT>(brushOf(layout.background, systemBackground));
}

// The focus comes back to the control that had it when the window was left.
void Convert::onActivate(bool active, bool minimized) {
    if (!active) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window_, focus))
            lastFocus_ = focus;
    } else if (!minimized) {
        ::SetFocus(lastFocus_);
    }
}

void Convert::onCommand(int id, int code, HWND from) {
    if (id == IDOK && from == nullptr) {
        // Enter, as the dialog manager sends it to a window with no default button: it presses
        // the focused button, as on Windows anywhere, and does nothing in a box.
        const HWND focus = ::GetFocus();
        if (focus == nullptr || !::IsChild(window_, focus) ||
            (::SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON) == 0)
            return;
        id = ::GetDlgCtrlID(focus);
    } else if (from == nullptr || code != BN_CLICKED) {
        return;
    }
    const int index = id - kFirstControlId;
    if (index >= 0 && index < static_cast<int>(kControlLayouts.size()))
        onClick(kControlLayouts[static_cast<std::size_t>(index)].role);
}

void Convert::onClick(Control role) {
    switch (role) {
    case Control::convertButton:
        convertCommand([this] { return textOf(Control::mapPathBox); },
                       [this] { return textOf(Control::outputPathBox); }, *messages_);
        break;
    case Control::aboutButton:
        aboutCommand(*messages_);
        break;
    case Control::infoButton:
        infoCommand(*messages_);
        break;
    case Control::exitButton:
        ::DestroyWindow(window_); // ends the message loop with status 0
        break;
    default:
        break;
    }
}

void Convert::chooseMap(std::wstring_view mapPath) {
    setText(Control::mapPathBox, mapPath);
    if (const auto output =
            outputFollowsMap_.outputFor(narrow(mapPath), textOf(Control::outputPathBox)))
        setText(Control::outputPathBox, widen(*output));
}

void Convert::onDroppedFiles(WPARAM dropped) {
    const auto drop = reinterpret_cast<HDROP>(dropped);
    POINT at{};
    ::DragQueryPoint(drop, &at);
    const HWND target = ::ChildWindowFromPointEx(window_, at, CWP_SKIPINVISIBLE);
    if (target != nullptr &&
        (target == control(Control::mapPathBox) || target == control(Control::outputPathBox))) {
        const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        ::DragQueryFileW(drop, 0, path.data(), length + 1);
        path.resize(length);
        if (target == control(Control::mapPathBox))
            chooseMap(path);
        else
            setText(Control::outputPathBox, path);
        ::SetFocus(target);
    }
    ::DragFinish(drop);
}

std::string Convert::textOf(Control box) const {
    const HWND edit = control(box);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    // The one place the typed path changes encoding on its way to the file layer.
    return narrow(text);
}

// A path the program puts in a box shows its end, where the file's name is.
void Convert::setText(Control box, std::wstring_view text) {
    const HWND edit = control(box);
    ::SetWindowTextW(edit, std::wstring(text).c_str());
    const auto end = static_cast<WPARAM>(text.size());
    ::SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

int runMessageLoop(Convert& window) {
    MSG message{};
    BOOL got = 0;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (!window.takeDialogMessage(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

} // namespace quillmere::win32
