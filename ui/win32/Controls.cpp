#include "ui/win32/Controls.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "ui/win32/WideText.h"

namespace korv {

Operation Control::setVisible()
{
    return [this](TData v) { switchState(v.isSet(), true); };
}

Operation Control::setEnabled()
{
    return [this](TData v) { switchState(v.isSet(), false); };
}

void Control::switchState(bool on, bool visibility)
{
    onWindow([&] {
        if (!on)
            parkFocusIfHeld();
        if (visibility)
            ShowWindow(handle_, on ? SW_SHOWNA : SW_HIDE);
        else
            EnableWindow(handle_, on ? TRUE : FALSE);
        if (on)
            becameUsable();
    });
}

void Control::parkFocusIfHeld()
{
    // Left to itself the system drops the focus, or the dialog manager hands
    // it to the next control with its whole text selected. The window itself
    // holds it instead, until a button takes it.
    const HWND focused = GetFocus();
    if (focused != nullptr && (focused == handle_ || IsChild(handle_, focused)))
        SetFocus(GetParent(handle_));
}

void Button::notified(unsigned code)
{
    if (code == BN_CLICKED)
        click.fire(TData(std::int32_t{0}));
}

void Button::becameUsable()
{
    // A button that becomes usable takes the focus the window holds, so
    // that the keyboard goes on where the user is expected to go next.
    const HWND w = handle();
    const HWND window = GetParent(w);
    const HWND focused = GetFocus();
    const bool shown = (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if ((focused == nullptr || focused == window) && IsWindowEnabled(w) && shown && IsWindowEnabled(window))
        SetFocus(w);
}

Operation StatusField::setText()
{
    return [this](TData v) {
        const std::wstring text = toWide(v.toText());
        onWindow([&] {
            DWORD start = 0;
            SendMessageW(handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
            SetWindowTextW(handle(), text.c_str());
            const auto caret = static_cast<WPARAM>(std::min<std::size_t>(start, text.size()));
            SendMessageW(handle(), EM_SETSEL, caret, static_cast<LPARAM>(caret));
        });
    };
}

PortList::PortList(WindowDispatcher& dispatcher, WindowHandle handle) : Control(dispatcher, handle)
{
    // With no entries the open list still shows one empty row.
    fitDropDown();
}

Operation PortList::addEntry()
{
    return [this](TData v) {
        std::string bytes = v.toText();
        onWindow([&] {
            // Adding leaves the selection and the text part as they are.
            const std::wstring text = toWide(bytes);
            entries_.push_back(std::move(bytes));
            SendMessageW(handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            fitDropDown();
        });
    };
}

void PortList::fitDropDown()
{
    // The open list is as tall as its entries, from one row to eight; the
    // combo box's window height is what it may drop down to.
    constexpr int kMaxRows = 8;
    const int rows = std::clamp(static_cast<int>(entries_.size()), 1, kMaxRows);
    const auto itemHeight = static_cast<int>(SendMessageW(handle(), CB_GETITEMHEIGHT, 0, 0));
    RECT closed{};
    GetWindowRect(handle(), &closed);
    const int border = 2 * GetSystemMetrics(SM_CYBORDER);
    SetWindowPos(handle(), nullptr, 0, 0, closed.right - closed.left,
                 closed.bottom - closed.top + rows * itemHeight + border,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PortList::notified(unsigned code)
{
    // A choice is an entry confirmed in the open list (click or Enter), or
    // an arrow key's step in the closed box. What typing does to the list's
    // selection, and a list closed without a choice, report nothing.
    const bool dropped = SendMessageW(handle(), CB_GETDROPPEDSTATE, 0, 0) != 0;
    switch (code) {
    case CBN_SELCHANGE:
        if (dropped)
            movedInList_ = true;
        else
            reportChoice();
        break;
    case CBN_SELENDOK:
        if (movedInList_)
            reportChoice();
        movedInList_ = false;
        break;
    case CBN_SELENDCANCEL:
    case CBN_EDITCHANGE:
        movedInList_ = false;
        break;
    default:
        break;
    }
}

void PortList::reportChoice()
{
    const auto index = SendMessageW(handle(), CB_GETCURSEL, 0, 0);
    if (index >= 0 && static_cast<std::size_t>(index) < entries_.size())
        entryChosen.fire(TData(entries_[static_cast<std::size_t>(index)]));
}

Operation ProgressBar::setPosition()
{
    return [this](TData v) {
        const std::int32_t position = v.toInt();
        const auto move = [this, position] {
            const auto high = static_cast<std::int32_t>(SendMessageW(handle(), PBM_GETRANGE, FALSE, 0));
            const auto low = static_cast<std::int32_t>(SendMessageW(handle(), PBM_GETRANGE, TRUE, 0));
            SendMessageW(handle(), PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, low, high)), 0);
        };
        // The transfer moves the bar once per block, right before it sends
        // the next block: waiting for the window thread (busy painting, say)
        // would hold the block back. The request goes into the same queue as
        // every other, so the window's changes keep their order.
        if (dispatcher_.onWindowThread())
            onWindow(move);
        else
            dispatcher_.post(move);
    };
}

CheckValueField::CheckValueField(WindowDispatcher& dispatcher, WindowHandle handle, std::string initial)
    : Control(dispatcher, handle), text_(std::move(initial)), shown_(text_)
{
    SetWindowTextW(handle, toWide(text_).c_str());
}

Operation CheckValueField::setText()
{
    return [this](TData v) { set(v.toText()); };
}

Getter CheckValueField::getText()
{
    return [this] { return TData(get()); };
}

void CheckValueField::set(std::string text)
{
    {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    // The field catches up later; many sets in a row cost one refresh.
    if (!refreshPending_.exchange(true))
        dispatcher_.post([this] { refreshField(); });
}

std::string CheckValueField::get() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

void CheckValueField::refreshField()
{
    shown_ = get();
    SetWindowTextW(handle(), toWide(shown_).c_str());
    // A transfer sets the text for every byte: the field rests between
    // refreshes, and the rest's end shows whatever was set meanwhile. The
    // main window hands the timer's end back to the field.
    SetTimer(GetParent(handle()), static_cast<UINT_PTR>(GetDlgCtrlID(handle())),
             static_cast<UINT>(kRefreshRest.count()), nullptr);
}

void CheckValueField::timerEnded()
{
    KillTimer(GetParent(handle()), static_cast<UINT_PTR>(GetDlgCtrlID(handle())));
    refreshPending_.store(false);
    if (get() != shown_ && !refreshPending_.exchange(true))
        refreshField();
}

} // namespace korv
