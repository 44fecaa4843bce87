#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "link/Link.h"
#include "ui/WindowDispatcher.h"
#include "ui/win32/Controls.h"

struct HBITMAP__;
struct HFONT__;

namespace korv {

// The program's one window with all of its controls at their fixed places,
// built from the system's own controls. Built hidden; the controls are
// created in a fixed order, each later one lying above the earlier ones.
class MainWindow {
public:
    MainWindow();
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    WindowDispatcher& dispatcher() { return *dispatcher_; }

    // The window's own operations, from any thread. Disabled, the window
    // takes no input from the user, and its controls keep their look.
    Operation setEnabledOp();
    Operation closeOp();
    bool acceptsInput() const;

    EventOut startUp;     // once, before the window is first shown
    EventOut closed;      // the close event: once, whatever closes the window
    // Runs right after the close event has been handled.
    std::function<void()> afterClose;

    // Reports the start-up event; the caller shows the window afterwards.
    void reportStartUp() { startUp.fire(); }
    void show();
    // Runs the window's messages, with Tab and Shift+Tab moving the focus,
    // until the window has been destroyed.
    void runMessageLoop();

    Button& writeButton() { return *writeButton_; }
    StatusField& statusField() { return *statusField_; }
    PortList& portList() { return *portList_; }
    ProgressBar& progressBar() { return *progressBar_; }
    Control& versionLabel() { return *versionLabel_; }
    CheckValueField& checkValueField() { return *checkValueField_; }
    Control& receivedCheckLabel() { return *receivedCheckLabel_; }
    Control& checkValueLabel() { return *checkValueLabel_; }
    Button& okButton() { return *okButton_; }
    Control& successMessage() { return *successMessage_; }
    Control& errorMessage() { return *errorMessage_; }
    Control& errorIcon() { return *errorIcon_; }
    Control& connectionHint() { return *connectionHint_; }

private:
    struct Fonts;
    static long long __stdcall windowProc(WindowHandle window, unsigned message, unsigned long long wParam,
                                          long long lParam);
    long long onMessage(WindowHandle window, unsigned message, unsigned long long wParam, long long lParam);
    void buildControls();
    WindowHandle makeChild(const wchar_t* className, unsigned long style, unsigned long exStyle,
                           int left, int top, int width, int height, HFONT__* font);
    WindowHandle makeLabel(std::string_view cp1251, int left, int top, unsigned long align, HFONT__* font,
                           int dockedWidth = 0);
    Control* controlWithId(int id) const;
    void requestClose();

    WindowHandle window_ = nullptr;
    std::unique_ptr<Fonts> fonts_;
    HBITMAP__* errorPicture_ = nullptr;  // BITMAP0 fitted into the error icon's box
    std::unique_ptr<WindowDispatcher> dispatcher_;
    std::unique_ptr<Button> writeButton_;
    std::unique_ptr<StatusField> statusField_;
    std::unique_ptr<PortList> portList_;
    std::unique_ptr<ProgressBar> progressBar_;
    std::unique_ptr<Control> versionLabel_;
    std::unique_ptr<CheckValueField> checkValueField_;
    std::unique_ptr<Control> receivedCheckLabel_;
    std::unique_ptr<Control> checkValueLabel_;
    std::unique_ptr<Button> okButton_;
    std::unique_ptr<Control> successMessage_;
    std::unique_ptr<Control> errorMessage_;
    std::unique_ptr<Control> errorIcon_;
    std::unique_ptr<Control> connectionHint_;
    std::vector<Control*> controls_;  // by their identifier, from kFirstId on
    int nextId_;

    std::atomic<bool> wakePosted_{false};
    bool closeReported_ = false;
    bool programClose_ = false;
};

} // namespace korv
