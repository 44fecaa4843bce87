// Prints what the window program shows, as the window system sees it: the
// main window's state, where its client area starts on the screen and its
// outer size, then one line per control in the order the system keeps them:
// visible (0/1), enabled (0/1), class, text in UTF-8; with --places each
// control's line starts with its place in the client area (left, top, width,
// height). Last, the control that holds the keyboard focus ("focus none" when
// none does). Exits 1 when no such window is there.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::wstring textOf(HWND window)
{
    wchar_t buffer[512] = {};
    // WM_GETTEXT, unlike GetWindowText, reads another process's controls too.
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::string describe(HWND control)
{
    wchar_t className[64] = {};
    GetClassNameW(control, className, 64);
    std::string text = utf8(textOf(control));
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return utf8(className) + " " + text;
}

bool withPlaces = false;

BOOL CALLBACK printChild(HWND child, LPARAM parent)
{
    const auto window = reinterpret_cast<HWND>(parent);
    if (GetParent(child) != window)
        return TRUE;
    if (withPlaces) {
        RECT place{};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        std::printf("%ld %ld %ld %ld ", place.left, place.top, place.right - place.left, place.bottom - place.top);
    }
    const bool visible = (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0;
    std::printf("%d %d %s\n", visible ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, describe(child).c_str());
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    withPlaces = argc > 1 && std::string(argv[1]) == "--places";
    const HWND window = FindWindowW(L"KorvantemisBootloader", nullptr);
    if (window == nullptr)
        return 1;
    POINT client{0, 0};
    ClientToScreen(window, &client);
    RECT outer{};
    GetWindowRect(window, &outer);
    std::printf("window %d %ld %ld %ldx%ld %s\n", IsWindowEnabled(window) ? 1 : 0, client.x, client.y,
                outer.right - outer.left, outer.bottom - outer.top, utf8(textOf(window)).c_str());
    EnumChildWindows(window, printChild, reinterpret_cast<LPARAM>(window));
    // The port list's text part is a control inside the combo box: the
    // focus is named by the window's own control that holds it.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND focus = nullptr;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) != FALSE)
        focus = gui.hwndFocus;
    while (focus != nullptr && GetParent(focus) != window)
        focus = GetParent(focus);
    std::printf("focus %s\n", focus == nullptr ? "none" : describe(focus).c_str());
    return 0;
}
