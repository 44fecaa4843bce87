#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/Link.h"
#include "ui/WindowDispatcher.h"

// The window system's handle type, without the whole of <windows.h> in
// every file that sees a control.
struct HWND__;

namespace korv {

using WindowHandle = HWND__*;

// A control as the program sees it: operations that may be requested from any
// thread and run on the window thread, in request order.
class Control {
public:
    Control(WindowDispatcher& dispatcher, WindowHandle handle) : dispatcher_(dispatcher), handle_(handle) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Operation setVisible();  // off only for the integer 0
    Operation setEnabled();

    WindowHandle handle() const { return handle_; }

    // Window thread: a notification the control sent to the main window
    // (its code from WM_COMMAND), and a timer of the control's that ran out.
    virtual void notified(unsigned code) { (void)code; }
    virtual void timerEnded() {}

protected:
    void onWindow(const std::function<void()>& fn) { dispatcher_.call(fn); }
    // Window thread: after the control has been shown or enabled.
    virtual void becameUsable() {}
    WindowDispatcher& dispatcher_;

private:
    // Shows or enables (on), hides or disables, with the focus handed on as
    // the user would expect.
    void switchState(bool on, bool visibility);
    void parkFocusIfHeld();
    WindowHandle handle_;
};

// A push button: reports a click (the integer 0); a disabled button sends
// no click to report.
class Button : public Control {
public:
    using Control::Control;
    EventOut click;
    void notified(unsigned code) override;

protected:
    void becameUsable() override;
};

// The read-only status field: set text replaces the whole text and keeps the
// caret at its character position.
class StatusField : public Control {
public:
    using Control::Control;
    Operation setText();
};

// The drop-down port list with an editable text part: reports the chosen
// entry's text once per choice from the list, and nothing for typing.
class PortList : public Control {
public:
    PortList(WindowDispatcher& dispatcher, WindowHandle handle);
    Operation addEntry();
    EventOut entryChosen;
    void notified(unsigned code) override;

private:
    void fitDropDown();
    void reportChoice();
    std::vector<std::string> entries_;  // the entries as given, byte for byte
    // The list's selection was moved in the open drop-down and not yet
    // confirmed or cancelled; typing clears it.
    bool movedInList_ = false;
};

class ProgressBar : public Control {
public:
    using Control::Control;
    // The value as an integer, kept within the bar's range. From another
    // thread the request is queued without waiting for it to run.
    Operation setPosition();
};

// The hidden field that stores the running check value. Its text lives in a
// store of its own that the field shows, so that the per-byte set and get
// need no round trip to the window thread: a get after a set returns the new
// text at once, from any thread.
class CheckValueField : public Control {
public:
    CheckValueField(WindowDispatcher& dispatcher, WindowHandle handle, std::string initial);
    Operation setText();
    Getter getText();

    void set(std::string text);
    std::string get() const;
    void timerEnded() override;

private:
    static constexpr std::chrono::milliseconds kRefreshRest{50};

    void refreshField();
    mutable std::mutex mutex_;
    std::string text_;
    std::string shown_;  // window thread: the text the field showed last
    // From a set until the rest after the refresh it asked for has ended.
    std::atomic<bool> refreshPending_{false};
};

} // namespace korv
