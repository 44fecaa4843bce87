#include "ui/qt/MainWindow.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include "link/Cp1251.h"
#include "ui/WindowTexts.h"
#include "ui/qt/PortListBox.h"
#include "ui/qt/TextCodec.h"
#include "ui/qt/ThreadSanitizer.h"
#include "ui/qt/WindowLook.h"

namespace korv {
namespace {

constexpr int kClientWidth = 497;
constexpr int kClientHeight = 135;
constexpr QPoint kFramePosition{200, 200};
constexpr int kProgressMaximum = 507;
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// What the user does with mouse, keyboard, pen or touch. Leaving a control
// is not among them: it only ends a highlight.
bool isInputEvent(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::Enter:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

using namespace windowtexts;

// Colours of the window system's palette, by their role in the window.
QColor buttonFace(const QWidget* w) { return w->palette().color(QPalette::Button); }

void paintBackground(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QLabel* makeLabel(QWidget* parent, QRect design, int pointSize, bool bold = false)
{
    auto* label = new QLabel(parent);
    label->setGeometry(design);
    label->setFont(programFont(pointSize, bold));
    label->setFrameShape(QFrame::NoFrame);
    paintBackground(label, QPalette::Window, buttonFace(parent));
    return label;
}

} // namespace

MainWindow::MainWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint)
{
    // A plain event wakes the window thread: it carries nothing, the requests
    // themselves pass through the dispatcher's own queue.
    dispatcher_ = std::make_unique<WindowDispatcher>([this] {
        if (!wakePosted_.exchange(true)) {
            auto* wake = new QEvent(kWakeEvent);
            markPosted(&wakePosted_);
            QCoreApplication::postEvent(this, wake);
        }
    });
    setWindowTitle(fromCp1251(kTitle.view()));
    QIcon icon;
    icon.addFile(QStringLiteral(":/TULP16"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/TULP32"), QSize(32, 32));
    setWindowIcon(icon);
    setFixedSize(kClientWidth, kClientHeight);
    move(kFramePosition);
    paintBackground(this, QPalette::Window, buttonFace(this));
    buildControls();
    QCoreApplication::instance()->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    dispatcher_->shutDown();
}

void MainWindow::buildControls()
{
    const QColor face = buttonFace(this);

    auto* write = new QPushButton(fromCp1251(kWrite.view()), this);
    write->setGeometry(5, 50, 85, 30);
    write->setFont(programFont(8));
    write->setAutoDefault(false);
    write->setEnabled(false);
    writeButton_ = std::make_unique<Button>(*dispatcher_, write);

    auto* status = new QLineEdit(fromCp1251(kChoosePort.view()), this);
    status->setGeometry(110, 10, 320, 25);
    status->setFont(programFont(8));
    status->setReadOnly(true);
    status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status->setCursorPosition(0);
    {
        QPalette p = status->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Midlight));
        status->setPalette(p);
    }
    statusField_ = std::make_unique<StatusField>(*dispatcher_, status);

    auto* ports = new PortListBox(this);
    ports->setGeometry(10, 10, 85, 24);
    ports->setFont(programFont(8));
    portList_ = std::make_unique<PortList>(*dispatcher_, ports);

    auto* progress = new QProgressBar(this);
    progress->setGeometry(5, 90, 485, 30);
    progress->setRange(0, kProgressMaximum);
    progress->setValue(0);
    progress->setTextVisible(false);
    {
        QPalette p = progress->palette();
        p.setColor(QPalette::Base, face);
        p.setColor(QPalette::Window, face);
        p.setColor(QPalette::Highlight, p.color(QPalette::Dark));
        progress->setPalette(p);
    }
    progressBar_ = std::make_unique<ProgressBar>(*dispatcher_, progress);

    QLabel* version = makeLabel(this, {110, 55, 272, 20}, 8);
    setLabelText(version, kVersion.view());
    versionLabel_ = std::make_unique<Control>(*dispatcher_, version);

    auto* check = new QLineEdit(this);
    check->setGeometry(45, 145, 85, 25);
    check->setFont(programFont(8));
    check->hide();
    checkValueField_ = std::make_unique<CheckValueField>(*dispatcher_, check, kInitialCheckValue.str());

    QLabel* received = makeLabel(this, {140, 150, 101, 20}, 8);
    setLabelText(received, kReceivedCheck.view());
    receivedCheckLabel_ = std::make_unique<Control>(*dispatcher_, received);

    QLabel* checkLabel = makeLabel(this, {10, 150, 35, 20}, 8);
    setLabelText(checkLabel, kCheckValue.view());
    checkValueLabel_ = std::make_unique<Control>(*dispatcher_, checkLabel);

    auto* ok = new QPushButton(fromCp1251(kOk.view()), this);
    ok->setGeometry(190, 60, 115, 30);
    ok->setFont(programFont(8));
    ok->setAutoDefault(false);
    ok->hide();
    okButton_ = std::make_unique<Button>(*dispatcher_, ok);

    QLabel* success = makeLabel(this, {5, 0, 492, 54}, 10, true);
    success->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // The two lines are joined by CR LF; the label breaks lines at LF alone.
    QString successText = fromCp1251(kSuccess.view());
    successText.remove(QLatin1Char('\r'));
    success->setText(successText);
    success->hide();
    successMessage_ = std::make_unique<Control>(*dispatcher_, success);

    errorMessageLabel_ = makeLabel(this, {0, 0, kClientWidth, 20}, 10);
    errorMessageLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setLabelText(errorMessageLabel_, kError.view(), kClientWidth);
    errorMessageLabel_->hide();
    errorMessage_ = std::make_unique<Control>(*dispatcher_, errorMessageLabel_);

    auto* icon = new QLabel(this);
    icon->setGeometry(80, 3, 15, 14);
    icon->setPixmap(fitPicture(QPixmap(QStringLiteral(":/BITMAP0")), {15, 14}, face));
    paintBackground(icon, QPalette::Window, face);
    icon->hide();
    errorIcon_ = std::make_unique<Control>(*dispatcher_, icon);

    connectionHintLabel_ = makeLabel(this, {0, 20, kClientWidth, 20}, 10);
    connectionHintLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setLabelText(connectionHintLabel_, kHint.view(), kClientWidth);
    connectionHintLabel_->hide();
    connectionHint_ = std::make_unique<Control>(*dispatcher_, connectionHintLabel_);

    layOutDockedLabels();
}

void MainWindow::layOutDockedLabels()
{
    // Docked to the top in creation order: the error message first, the
    // connection hint directly below it.
    errorMessageLabel_->move(0, 0);
    connectionHintLabel_->move(0, errorMessageLabel_->height());
}

Operation MainWindow::setEnabledOp()
{
    return [this](TData v) {
        const bool on = v.isSet();
        dispatcher_->call([&] {
            if (!on)
                enabledPosition_ = pos();
            inputRefused_ = !on;
        });
    };
}

bool MainWindow::owns(const QObject* object) const
{
    // What the window system sends goes to a toolkit window first; the
    // widget it stands for tells whose it is.
    if (object->isWindowType()) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto shows = [&](const QWidget* w) { return w->windowHandle() == object; };
        const auto found = std::find_if(windows.begin(), windows.end(), shows);
        if (found == windows.end())
            return false;
        object = *found;
    } else if (!object->isWidgetType()) {
        return false;
    }
    // Parents are followed across window boundaries, so the port list's
    // drop-down counts as the window's own.
    for (const QObject* o = object; o != nullptr; o = o->parent()) {
        if (o == this)
            return true;
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A disabled window takes no input, as a disabled top-level window does
    // on Windows: its controls are not disabled one by one, so they keep
    // their look (a disabled widget would turn grey). Input is refused where
    // it enters, before a press could move the focus.
    // The filter sees every event first, the wake-ups other threads post too.
    markReceived(&wakePosted_);
    if (inputRefused_ && isInputEvent(event->type()) && owns(watched))
        return true;
    return QWidget::eventFilter(watched, event);
}

Operation MainWindow::closeOp()
{
    return [this](TData) {
        dispatcher_->call([this] {
            programClose_ = true;
            close();
        });
    };
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (closeReported_) {
        event->accept();
        return;
    }
    // A disabled window cannot be closed by the user.
    if (inputRefused_ && !programClose_) {
        event->ignore();
        return;
    }
    closeReported_ = true;
    closed.fire();
    if (afterClose)
        afterClose();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    // Only the bare background moves the window; presses on a label reach
    // here too, since labels pass them on, so look at what lies under them.
    if (childAt(event->position().toPoint()) == nullptr) {
        if (QWidget* grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
        beginSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MainWindow::beginSystemMove()
{
    if (windowHandle() != nullptr)
        windowHandle()->startSystemMove();
}

void MainWindow::changeEvent(QEvent* event)
{
    // A disabled window cannot be minimised by the user.
    if (event->type() == QEvent::WindowStateChange && inputRefused_ && isMinimized())
        QMetaObject::invokeMethod(this, [this] { showNormal(); }, Qt::QueuedConnection);
    QWidget::changeEvent(event);
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    // Nor moved: the window manager's move is undone.
    if (inputRefused_ && isVisible() && pos() != enabledPosition_)
        QMetaObject::invokeMethod(this, [this] {
            if (inputRefused_)
                move(enabledPosition_);
        }, Qt::QueuedConnection);
    QWidget::moveEvent(event);
}

bool MainWindow::event(QEvent* event)
{
    markReceived(&wakePosted_);
    if (event->type() == kWakeEvent) {
        wakePosted_.store(false);
        dispatcher_->runPending();
        return true;
    }
    return QWidget::event(event);
}


} // namespace korv
