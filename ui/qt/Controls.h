#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "link/Link.h"
#include "ui/WindowDispatcher.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace korv {

// A control as the program sees it: operations that may be requested from any
// thread and run on the window thread, in request order.
class Control {
public:
    Control(WindowDispatcher& dispatcher, QWidget* widget) : dispatcher_(dispatcher), widget_(widget) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Operation setVisible();  // off only for the integer 0
    Operation setEnabled();

    QWidget* widget() const { return widget_; }

protected:
    void onWindow(const std::function<void()>& fn) { dispatcher_.call(fn); }
    // Window thread: after the control has been shown or enabled.
    virtual void becameUsable() {}
    WindowDispatcher& dispatcher_;

private:
    // Shows or enables (on), hides or disables, with the focus handed on as
    // the user would expect.
    enum class Aspect { Visible, Enabled };
    void switchState(Aspect aspect, bool on);
    void parkFocusIfHeld();
    QWidget* widget_;
};

// A push button: reports a click (the integer 0) only while enabled.
class Button : public Control {
public:
    Button(WindowDispatcher& dispatcher, QPushButton* button);
    EventOut click;

protected:
    void becameUsable() override;
};

// The read-only status field: set text replaces the whole text and keeps the
// caret at its character position.
class StatusField : public Control {
public:
    StatusField(WindowDispatcher& dispatcher, QLineEdit* field);
    Operation setText();
};

// The drop-down port list with an editable text part: reports the chosen
// entry's text once per selection change, and nothing for typing.
class PortList : public Control {
public:
    PortList(WindowDispatcher& dispatcher, QComboBox* box);
    Operation addEntry();
    EventOut entryChosen;

private:
    std::vector<std::string> entries_;  // the entries as given, byte for byte
};

class ProgressBar : public Control {
public:
    ProgressBar(WindowDispatcher& dispatcher, QProgressBar* bar);
    // The value as an integer, kept within the bar's range. From another
    // thread the request is queued without waiting for it to run.
    Operation setPosition();
};

// The hidden field that stores the running check value. Its text lives in a
// store of its own that the widget shows, so that the per-byte set and get
// need no round trip to the window thread: a get after a set returns the new
// text at once, from any thread.
class CheckValueField : public Control {
public:
    CheckValueField(WindowDispatcher& dispatcher, QLineEdit* field, std::string initial);
    Operation setText();
    Getter getText();

    void set(std::string text);
    std::string get() const;

private:
    static constexpr std::chrono::milliseconds kRefreshRest{50};

    void refreshWidget();
    mutable std::mutex mutex_;
    std::string text_;
    // From a set until the rest after the refresh it asked for has ended.
    std::atomic<bool> refreshPending_{false};
};

} // namespace korv
