#include "ui/win32/MainWindow.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "link/Cp1251.h"
#include "ui/WindowTexts.h"
#include "ui/win32/WideText.h"

namespace korv {
namespace {

constexpr int kLeft = 200;
constexpr int kTop = 200;
constexpr int kOuterWidth = 503;
constexpr int kOuterHeight = 162;
constexpr int kClientWidth = 497;
constexpr int kProgressMaximum = 507;
constexpr int kFirstId = 100;  // clear of IDOK and IDCANCEL, which the dialog keys send
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr SIZE kIconBox{15, 14};
constexpr const wchar_t* kClassName = L"KorvantemisBootloader";

// System colours by index: button face, window, 3-D light, button shadow.
constexpr int kButtonFace = 15;
constexpr int kWindowColour = 5;
constexpr int kLight = 22;
constexpr int kShadow = 16;

using namespace windowtexts;

HFONT makeFont(int points, bool bold)
{
    // The Cyrillic character set, so that the texts show whatever language
    // the system is set to.
    const HDC screen = GetDC(nullptr);
    const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       L"MS Sans Serif");
}

// The picture scaled with smoothing into the box, proportions kept, centred,
// the strips it leaves in button face.
HBITMAP fitPicture(HINSTANCE instance, const wchar_t* name, SIZE box)
{
    const HDC screen = GetDC(nullptr);
    const HBITMAP fitted = CreateCompatibleBitmap(screen, box.cx, box.cy);
    const HDC target = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    const HGDIOBJ oldTarget = SelectObject(target, fitted);
    const RECT all{0, 0, box.cx, box.cy};
    FillRect(target, &all, GetSysColorBrush(kButtonFace));
    const auto picture = static_cast<HBITMAP>(LoadImageW(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info{};
    if (picture != nullptr && GetObjectW(picture, sizeof info, &info) != 0 && info.bmWidth > 0 && info.bmHeight > 0) {
        const double scale = std::min(static_cast<double>(box.cx) / info.bmWidth,
                                      static_cast<double>(box.cy) / info.bmHeight);
        const int width = std::max(1, static_cast<int>(info.bmWidth * scale));
        const int height = std::max(1, static_cast<int>(info.bmHeight * scale));
        const HDC source = CreateCompatibleDC(target);
        const HGDIOBJ oldSource = SelectObject(source, picture);
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, (box.cx - width) / 2, (box.cy - height) / 2, width, height, source, 0, 0,
                   info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(source, oldSource);
        DeleteDC(source);
    }
    if (picture != nullptr)
        DeleteObject(picture);
    SelectObject(target, oldTarget);
    DeleteDC(target);
    return fitted;
}

} // namespace

struct MainWindow::Fonts {
    HFONT normal = makeFont(8, false);
    HFONT success = makeFont(10, true);
    HFONT error = makeFont(10, false);
    ~Fonts()
    {
        DeleteObject(normal);
        DeleteObject(success);
        DeleteObject(error);
    }
};

MainWindow::MainWindow() : fonts_(std::make_unique<Fonts>()), nextId_(kFirstId)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = reinterpret_cast<WNDPROC>(&MainWindow::windowProc);
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, L"TULP", IMAGE_ICON, 32, 32, 0));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, L"TULP", IMAGE_ICON, 16, 16, 0));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = GetSysColorBrush(kButtonFace);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);

    // Fixed single border, title bar with system menu, minimise and close
    // boxes; no maximise box and no sizing frame.
    window_ = CreateWindowExW(0, kClassName, toWide(kTitle.view()).c_str(),
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                              kLeft, kTop, kOuterWidth, kOuterHeight, nullptr, nullptr, instance, this);
    // A posted message wakes the window thread: it carries nothing, the
    // requests themselves pass through the dispatcher's own queue.
    dispatcher_ = std::make_unique<WindowDispatcher>([this, target = window_] {
        if (!wakePosted_.exchange(true))
            PostMessageW(target, kWakeMessage, 0, 0);
    });
    errorPicture_ = fitPicture(instance, L"BITMAP0", kIconBox);
    buildControls();
}

MainWindow::~MainWindow()
{
    dispatcher_->shutDown();
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    DeleteObject(errorPicture_);
}

WindowHandle MainWindow::makeChild(const wchar_t* className, unsigned long style, unsigned long exStyle,
                                   int left, int top, int width, int height, HFONT font)
{
    const int id = nextId_++;
    const HWND child = CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_CLIPSIBLINGS | style, left, top,
                                       width, height, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       GetModuleHandleW(nullptr), nullptr);
    if (font != nullptr)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Each later control lies above the earlier ones.
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return child;
}

WindowHandle MainWindow::makeLabel(std::string_view cp1251, int left, int top, unsigned long align, HFONT font,
                                   int dockedWidth)
{
    // SS_NOTIFY keeps a press on the label from falling through to the
    // background, where it would move the window.
    const HWND label = makeChild(L"STATIC", align | SS_NOTIFY | WS_VISIBLE, 0, left, top, 1, 1, font);
    const std::wstring text = toWide(cp1251);
    SetWindowTextW(label, text.c_str());
    // Sized to its text plus 1 pixel, measured in the label's own font; a
    // label docked to the top keeps the client width.
    const HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    const int width = dockedWidth > 0 ? dockedWidth : extent.cx + 1;
    SetWindowPos(label, nullptr, 0, 0, width, extent.cy + 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return label;
}

void MainWindow::buildControls()
{
    WindowDispatcher& d = *dispatcher_;
    const HFONT font = fonts_->normal;

    const HWND write = makeChild(L"BUTTON", BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP | WS_VISIBLE | WS_DISABLED, 0,
                                 5, 50, 85, 30, font);
    SetWindowTextW(write, toWide(kWrite.view()).c_str());
    writeButton_ = std::make_unique<Button>(d, write);

    const HWND status = makeChild(L"EDIT", ES_LEFT | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP | WS_VISIBLE,
                                  WS_EX_CLIENTEDGE, 110, 10, 320, 25, font);
    SetWindowTextW(status, toWide(kChoosePort.view()).c_str());
    statusField_ = std::make_unique<StatusField>(d, status);

    // Unsorted: the entries stay in the order added.
    const HWND ports = makeChild(L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE,
                                 0, 10, 10, 85, 24, font);
    SendMessageW(ports, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 24 - 6);
    portList_ = std::make_unique<PortList>(d, ports);

    const HWND progress = makeChild(PROGRESS_CLASSW, PBS_SMOOTH | WS_VISIBLE, 0, 5, 90, 485, 30, nullptr);
    SendMessageW(progress, PBM_SETRANGE32, 0, kProgressMaximum);
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    SendMessageW(progress, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(GetSysColor(kShadow)));
    SendMessageW(progress, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(kButtonFace)));
    progressBar_ = std::make_unique<ProgressBar>(d, progress);

    versionLabel_ = std::make_unique<Control>(d, makeLabel(kVersion.view(), 110, 55, SS_LEFT, font));

    const HWND check = makeChild(L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 45, 145, 85, 25,
                                 font);
    checkValueField_ = std::make_unique<CheckValueField>(d, check, kInitialCheckValue.str());

    receivedCheckLabel_ = std::make_unique<Control>(d, makeLabel(kReceivedCheck.view(), 140, 150, SS_LEFT, font));
    checkValueLabel_ = std::make_unique<Control>(d, makeLabel(kCheckValue.view(), 10, 150, SS_LEFT, font));

    const HWND ok = makeChild(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, 190, 60, 115, 30, font);
    SetWindowTextW(ok, toWide(kOk.view()).c_str());
    okButton_ = std::make_unique<Button>(d, ok);

    // The two lines, joined by CR LF, are each centred in the fixed size.
    const HWND success = makeChild(L"STATIC", SS_CENTER | SS_NOTIFY, 0, 5, 0, 492, 54, fonts_->success);
    SetWindowTextW(success, toWide(kSuccess.view()).c_str());
    successMessage_ = std::make_unique<Control>(d, success);

    // Docked to the top in creation order: the error message first, the
    // connection hint directly below it.
    const HWND error = makeLabel(kError.view(), 0, 0, SS_CENTER, fonts_->error, kClientWidth);
    ShowWindow(error, SW_HIDE);
    errorMessage_ = std::make_unique<Control>(d, error);

    const HWND icon = makeChild(L"STATIC", SS_OWNERDRAW | SS_NOTIFY, 0, 80, 3, kIconBox.cx, kIconBox.cy, nullptr);
    errorIcon_ = std::make_unique<Control>(d, icon);

    RECT errorBox{};
    GetWindowRect(error, &errorBox);
    const HWND hint = makeLabel(kHint.view(), 0, errorBox.bottom - errorBox.top, SS_CENTER, fonts_->error,
                                kClientWidth);
    ShowWindow(hint, SW_HIDE);
    connectionHint_ = std::make_unique<Control>(d, hint);

    controls_ = {writeButton_.get(),    statusField_.get(),     portList_.get(),        progressBar_.get(),
                 versionLabel_.get(),   checkValueField_.get(), receivedCheckLabel_.get(), checkValueLabel_.get(),
                 okButton_.get(),       successMessage_.get(),  errorMessage_.get(),    errorIcon_.get(),
                 connectionHint_.get()};
}

Control* MainWindow::controlWithId(int id) const
{
    const int index = id - kFirstId;
    if (index < 0 || index >= static_cast<int>(controls_.size()))
        return nullptr;
    return controls_[static_cast<std::size_t>(index)];
}

Operation MainWindow::setEnabledOp()
{
    // The system refuses a disabled top-level window all input: it can be
    // neither used, moved, minimised nor closed, and its controls, still
    // enabled themselves, keep their look.
    return [this](TData v) {
        const bool on = v.isSet();
        dispatcher_->call([&] { EnableWindow(window_, on ? TRUE : FALSE); });
    };
}

bool MainWindow::acceptsInput() const
{
    return IsWindowEnabled(window_) != FALSE;
}

Operation MainWindow::closeOp()
{
    return [this](TData) {
        dispatcher_->call([this] {
            programClose_ = true;
            requestClose();
        });
    };
}

void MainWindow::requestClose()
{
    if (window_ != nullptr)
        SendMessageW(window_, WM_CLOSE, 0, 0);
}

void MainWindow::show()
{
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

void MainWindow::runMessageLoop()
{
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_ != nullptr && IsDialogMessageW(window_, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

long long __stdcall MainWindow::windowProc(WindowHandle window, unsigned message, unsigned long long wParam,
                                           long long lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->onMessage(window, message, wParam, lParam);
}

long long MainWindow::onMessage(WindowHandle window, unsigned message, unsigned long long wParam, long long lParam)
{
    switch (message) {
    case kWakeMessage:
        wakePosted_.store(false);
        dispatcher_->runPending();
        return 0;
    case WM_COMMAND:
        // A control's notification; the dialog keys' IDOK and IDCANCEL,
        // which come with no control, name none.
        if (lParam != 0) {
            if (Control* control = controlWithId(LOWORD(wParam)))
                control->notified(HIWORD(wParam));
        }
        return 0;
    case WM_TIMER:
        if (Control* control = controlWithId(static_cast<int>(wParam)))
            control->timerEnded();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // The bare background: labels and the picture take their own presses.
        ReleaseCapture();
        SendMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return 0;
    case WM_CTLCOLORSTATIC: {
        // Labels and the picture in button face; the read-only status field
        // (which asks here too) in 3-D light. All texts black.
        const auto dc = reinterpret_cast<HDC>(wParam);
        const int colour = reinterpret_cast<HWND>(lParam) == statusField_->handle() ? kLight : kButtonFace;
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, GetSysColor(colour));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(colour));
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, GetSysColor(kWindowColour));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(kWindowColour));
    }
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(kButtonFace));
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem == errorIcon_->handle()) {
            const HDC source = CreateCompatibleDC(item->hDC);
            const HGDIOBJ old = SelectObject(source, errorPicture_);
            BitBlt(item->hDC, 0, 0, kIconBox.cx, kIconBox.cy, source, 0, 0, SRCCOPY);
            SelectObject(source, old);
            DeleteDC(source);
        }
        return TRUE;
    }
    case WM_SYSCOMMAND:
        // A disabled window cannot be moved, minimised or closed by the
        // user, whatever reaches it.
        if (!IsWindowEnabled(window_))
            return 0;
        break;
    case WM_CLOSE:
        if (closeReported_) {
            DestroyWindow(window_);
            return 0;
        }
        if (!IsWindowEnabled(window_) && !programClose_)
            return 0;
        closeReported_ = true;
        closed.fire();
        if (afterClose)
            afterClose();
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        window_ = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace korv
