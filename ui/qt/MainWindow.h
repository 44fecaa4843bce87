#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "link/Link.h"
#include "ui/qt/Controls.h"
#include "ui/WindowDispatcher.h"

class QLabel;

namespace korv {

// The program's one window with all of its controls at their fixed places.
// Built hidden; the controls are created in a fixed order, each later one
// lying above the earlier ones.
class MainWindow : public QWidget {
public:
    MainWindow();
    ~MainWindow() override;

    WindowDispatcher& dispatcher() { return *dispatcher_; }

    // The window's own operations, from any thread. Disabled, the window
    // takes no input from the user, and its controls keep their look.
    Operation setEnabledOp();
    Operation closeOp();
    bool acceptsInput() const { return !inputRefused_; }

    EventOut startUp;     // once, before the window is first shown
    EventOut closed;      // the close event: once, whatever closes the window
    // Runs right after the close event has been handled.
    std::function<void()> afterClose;

    // Reports the start-up event; the caller shows the window afterwards.
    void reportStartUp() { startUp.fire(); }

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

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Hands the window to the window system's move mode.
    virtual void beginSystemMove();

private:
    void buildControls();
    // Whether a widget or toolkit window belongs to this window.
    bool owns(const QObject* object) const;
    void layOutDockedLabels();

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
    QLabel* errorMessageLabel_ = nullptr;
    QLabel* connectionHintLabel_ = nullptr;

    std::atomic<bool> wakePosted_{false};
    bool closeReported_ = false;
    bool programClose_ = false;
    bool inputRefused_ = false;  // the window is disabled
    QPoint enabledPosition_;  // where a disabled window is held
};

} // namespace korv
