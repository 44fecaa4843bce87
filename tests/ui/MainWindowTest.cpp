#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QAbstractItemView>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <thread>

#include "link/Cp1251.h"
#include "support/Application.h"
#include "ui/MainWindow.h"
#include "ui/qt/TextCodec.h"

namespace korv {
namespace {

class CountingWindow : public MainWindow {
public:
    int moves = 0;

protected:
    void beginSystemMove() override { ++moves; }
};

class Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::application(); }
    void SetUp() override
    {
        delivery::reset();
        delivery::switchOn();
        window = std::make_unique<CountingWindow>();
    }
    void TearDown() override
    {
        window.reset();
        delivery::reset();
    }

    template <class W>
    W* child(const Control& c) { return static_cast<W*>(c.widget()); }

    std::unique_ptr<CountingWindow> window;
};

struct Placement {
    const char* name;
    Control& (*control)(MainWindow&);
    QRect geometry;
    bool visible;
    bool enabled;
};

TEST_F(Window, ControlsStartAtTheirPlacesAndStates)
{
    const Placement table[] = {
        {"write button", [](MainWindow& w) -> Control& { return w.writeButton(); }, {5, 50, 85, 30}, true, false},
        {"status field", [](MainWindow& w) -> Control& { return w.statusField(); }, {110, 10, 320, 25}, true, true},
        {"port list", [](MainWindow& w) -> Control& { return w.portList(); }, {10, 10, 85, 24}, true, true},
        {"progress bar", [](MainWindow& w) -> Control& { return w.progressBar(); }, {5, 90, 485, 30}, true, true},
        {"check-value field", [](MainWindow& w) -> Control& { return w.checkValueField(); }, {45, 145, 85, 25}, false, true},
        {"OK button", [](MainWindow& w) -> Control& { return w.okButton(); }, {190, 60, 115, 30}, false, true},
        {"success message", [](MainWindow& w) -> Control& { return w.successMessage(); }, {5, 0, 492, 54}, false, true},
        {"error icon", [](MainWindow& w) -> Control& { return w.errorIcon(); }, {80, 3, 15, 14}, false, true},
    };
    for (const Placement& p : table) {
        SCOPED_TRACE(p.name);
        QWidget* w = p.control(*window).widget();
        EXPECT_EQ(w->geometry(), p.geometry);
        EXPECT_EQ(w->isVisibleTo(window.get()), p.visible);
        EXPECT_EQ(w->isEnabled(), p.enabled);
    }
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(497, 135));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Korvantemis bootloader"));

    EXPECT_EQ(child<QLineEdit>(window->statusField())->text(),
              QString::fromUtf8("Выберите порт с подключённым устройством."));
    EXPECT_TRUE(child<QLineEdit>(window->statusField())->isReadOnly());
    EXPECT_EQ(child<QPushButton>(window->writeButton())->text(), QString::fromUtf8("Записать"));
    EXPECT_EQ(child<QComboBox>(window->portList())->count(), 0);
    EXPECT_EQ(child<QProgressBar>(window->progressBar())->maximum(), 507);
    EXPECT_EQ(window->checkValueField().get(), "FFFF");
    EXPECT_EQ(child<QLabel>(window->successMessage())->text(),
              QString::fromUtf8("     ПО успешно обновлено!\nСбросте настройки по умолчанию!"));
    EXPECT_TRUE(child<QLabel>(window->successMessage())->font().bold());
    EXPECT_EQ(child<QLabel>(window->errorIcon())->pixmap().size(), QSize(15, 14));
}

TEST_F(Window, LabelsAreSizedToTheirTextAndDockedLabelsStackAtTheTop)
{
    struct Sized {
        Control& control;
        const char* utf8;
        QPoint topLeft;
    };
    const Sized labels[] = {
        {window->versionLabel(), "Версия ПО для обновления:8.7 (без защиты симисторов)", {110, 55}},
        {window->receivedCheckLabel(), "CRC принятый:", {140, 150}},
        {window->checkValueLabel(), "CRC:", {10, 150}},
    };
    for (const Sized& s : labels) {
        SCOPED_TRACE(s.utf8);
        auto* label = child<QLabel>(s.control);
        EXPECT_EQ(label->text(), QString::fromUtf8(s.utf8));
        const QSize text = QFontMetrics(label->font()).size(0, label->text());
        EXPECT_EQ(label->geometry(), QRect(s.topLeft, text + QSize(1, 1)));
    }
    auto* error = child<QLabel>(window->errorMessage());
    auto* hint = child<QLabel>(window->connectionHint());
    EXPECT_EQ(error->text(), QString::fromUtf8("Ошибка при передаче данных!"));
    EXPECT_EQ(hint->text(), QString::fromUtf8("Проверьте все соединения и попробуйте ещё раз."));
    const auto textHeight = [](QLabel* l) { return QFontMetrics(l->font()).size(0, l->text()).height(); };
    EXPECT_EQ(error->geometry(), QRect(0, 0, 497, textHeight(error) + 1));
    EXPECT_EQ(hint->geometry(), QRect(0, error->height(), 497, textHeight(hint) + 1));
}

TEST_F(Window, PortListReportsChoicesButNotTyping)
{
    std::vector<std::string> chosen;
    connect(window->portList().entryChosen, [&](TData v) { chosen.push_back(v.toText()); });
    window->portList().addEntry()(TData("COM1"));
    window->portList().addEntry()(TData("COM3"));
    auto* box = child<QComboBox>(window->portList());
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentIndex(), -1);  // adding selects nothing
    EXPECT_TRUE(chosen.empty());

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    box->setFocus();
    QTest::keyClicks(box->lineEdit(), "COM3");
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(chosen.empty());

    box->lineEdit()->clear();
    QTest::keyClick(box, Qt::Key_Down);  // the keyboard choice in the closed box
    QTest::keyClick(box, Qt::Key_Down);
    emit box->activated(1);  // the same entry chosen again from the drop-down
    EXPECT_EQ(chosen, (std::vector<std::string>{"COM1", "COM3", "COM3"}));
}

// Typed as the user types: a click into the text part, then keys to
// whatever holds the focus. Neither Enter nor leaving the field with Tab
// makes the typed name a choice, even when it names an entry.
TEST_F(Window, TypingIntoThePortListsTextPartChoosesNothing)
{
    std::vector<std::string> chosen;
    connect(window->portList().entryChosen, [&](TData v) { chosen.push_back(v.toText()); });
    window->portList().addEntry()(TData("COM1"));
    window->portList().addEntry()(TData("COM7"));
    window->writeButton().setEnabled()(TData(std::int32_t{1}));
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* box = child<QComboBox>(window->portList());

    const auto typeIntoTheTextPart = [&](const char* name, Qt::Key end) {
        QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused, name);
        QTest::keyClick(focused, end);
    };
    typeIntoTheTextPart("COM7", Qt::Key_Return);
    typeIntoTheTextPart("COM1", Qt::Key_Enter);
    typeIntoTheTextPart("COM7", Qt::Key_Tab);
    EXPECT_TRUE(chosen.empty()) << chosen.front();
    EXPECT_EQ(box->currentIndex(), -1);

    // The arrow key in the closed box is a choice.
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(chosen, std::vector<std::string>{"COM1"});
}

TEST_F(Window, EmptyDropDownShowsOneRowThatCannotBeChosen)
{
    int chosen = 0;
    connect(window->portList().entryChosen, [&](TData) { ++chosen; });
    window->show();
    auto* box = child<QComboBox>(window->portList());
    box->showPopup();
    ASSERT_EQ(box->model()->rowCount(), 1);
    EXPECT_FALSE(box->model()->flags(box->model()->index(0, 0)) & Qt::ItemIsEnabled);
    QTest::keyClick(box->view(), Qt::Key_Return);
    box->hidePopup();
    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(chosen, 0);

    for (int i = 1; i <= 10; ++i)
        window->portList().addEntry()(TData("COM" + std::to_string(i)));
    EXPECT_EQ(box->count(), 10);
    EXPECT_EQ(box->maxVisibleItems(), 8);  // more entries scroll
}

TEST_F(Window, WriteButtonReportsZeroOnlyWhileEnabled)
{
    std::vector<TData> clicks;
    connect(window->writeButton().click, [&](TData v) { clicks.push_back(v); });
    window->show();
    auto* button = child<QPushButton>(window->writeButton());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(clicks.empty());
    window->writeButton().setEnabled()(TData(std::int32_t{1}));
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0], TData(std::int32_t{0}));
}

TEST_F(Window, SetVisibleAndSetEnabledFollowTheIsSetRule)
{
    auto* ok = window->okButton().widget();
    window->okButton().setVisible()(TData(""));
    EXPECT_TRUE(ok->isVisibleTo(window.get()));
    window->okButton().setVisible()(TData(std::int32_t{0}));
    EXPECT_FALSE(ok->isVisibleTo(window.get()));
    window->okButton().setVisible()(TData());
    EXPECT_TRUE(ok->isVisibleTo(window.get()));
    window->setEnabledOp()(TData(std::int32_t{0}));
    EXPECT_FALSE(window->acceptsInput());
    window->setEnabledOp()(TData("KORVANTEMIS"));
    EXPECT_TRUE(window->acceptsInput());
}

TEST_F(Window, CloseEventFiresOnceAndADisabledWindowRefusesTheUsersClose)
{
    int closes = 0;
    connect(window->closed, [&](TData) { ++closes; });
    int after = 0;
    window->afterClose = [&] { ++after; };
    window->show();

    window->setEnabledOp()(TData(std::int32_t{0}));
    EXPECT_FALSE(window->close());  // as the close box would
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(closes, 0);

    window->setEnabledOp()(TData(std::int32_t{1}));
    window->okButton().setVisible()(TData(std::int32_t{1}));
    connect(window->okButton().click, window->closeOp());
    QTest::mouseClick(child<QPushButton>(window->okButton()), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    window->close();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(after, 1);
}

// Disabled, the window refuses what the user does with mouse and keyboard,
// but every control looks as before: nothing turns grey. The events come as
// the window system delivers them: to the window, and keys from there to
// the focused control.
TEST_F(Window, ADisabledWindowRefusesInputAndKeepsItsLook)
{
    int clicks = 0;
    std::vector<std::string> chosen;
    connect(window->writeButton().click, [&](TData) { ++clicks; });
    connect(window->portList().entryChosen, [&](TData v) { chosen.push_back(v.toText()); });
    window->portList().addEntry()(TData("COM1"));
    window->statusField().setText()(TData(std::string("\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE: KV-12")));
    window->progressBar().setPosition()(TData(std::int32_t{200}));
    window->writeButton().setEnabled()(TData(std::int32_t{1}));
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QWindow* handle = window->windowHandle();
    const auto clickOn = [&](const Control& c) {
        QTest::mouseClick(handle, Qt::LeftButton, {}, c.widget()->geometry().center());
    };
    clickOn(window->portList());
    QWidget* focused = QApplication::focusWidget();
    ASSERT_TRUE(focused == window->portList().widget() || window->portList().widget()->isAncestorOf(focused));
    const QImage before = window->grab().toImage();

    window->setEnabledOp()(TData(std::int32_t{0}));
    EXPECT_TRUE(window->grab().toImage() == before) << "the disabled window looks different";
    QTest::keyClick(handle, Qt::Key_Down);
    QTest::keyClick(handle, Qt::Key_Tab);
    clickOn(window->writeButton());
    EXPECT_EQ(QApplication::focusWidget(), focused);
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(clicks, 0);

    window->setEnabledOp()(TData(std::int32_t{1}));
    QTest::keyClick(handle, Qt::Key_Down);
    clickOn(window->writeButton());
    EXPECT_EQ(chosen, std::vector<std::string>{"COM1"});
    EXPECT_EQ(clicks, 1);
}

TEST_F(Window, ADisabledWindowIsNeitherMovedNorMinimised)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QPoint home = window->pos();
    window->setEnabledOp()(TData(std::int32_t{0}));
    window->move(home + QPoint(40, 30));  // as a window manager's move would
    window->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->pos() == home && !window->isMinimized(); }, 5000));

    window->setEnabledOp()(TData(std::int32_t{1}));
    window->move(home + QPoint(40, 30));
    QTest::qWait(50);
    EXPECT_EQ(window->pos(), home + QPoint(40, 30));
}

TEST_F(Window, OnlyTheBareBackgroundStartsAMove)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(300, 60));  // on the version label
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(300, 60));
    QTest::mousePress(child<QPushButton>(window->writeButton()), Qt::LeftButton);
    EXPECT_EQ(window->moves, 0);
    QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(100, 40));  // between controls
    EXPECT_EQ(window->moves, 1);
}

TEST_F(Window, OtherThreadsChangeTheWindowThroughItsThread)
{
    window->show();
    std::atomic<bool> done{false};
    std::string readBack;
    int positionSeenLater = -1;
    std::thread worker([&] {
        window->statusField().setText()(TData(std::string("\xCF\xF0\xE8\xE2\xE5\xF2")));  // "Привет"
        // Queued without waiting, yet in order: a later request sees it done.
        window->progressBar().setPosition()(TData(std::int32_t{600}));
        window->dispatcher().call([&] { positionSeenLater = child<QProgressBar>(window->progressBar())->value(); });
        window->checkValueField().setText()(TData("4B37"));
        readBack = window->checkValueField().getText()().toText();
        done = true;
        window->dispatcher().wake();
    });
    window->dispatcher().waitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(readBack, "4B37");
    EXPECT_EQ(child<QLineEdit>(window->statusField())->text(), QString::fromUtf8("Привет"));
    EXPECT_EQ(positionSeenLater, 507);
    EXPECT_EQ(child<QProgressBar>(window->progressBar())->value(), 507);
    QTest::qWait(10);
    EXPECT_EQ(child<QLineEdit>(window->checkValueField())->text(), QStringLiteral("4B37"));
}

// A transfer sets the check value for every byte: the widget follows at its
// own pace, with far fewer refreshes than sets, and ends on the last text.
TEST_F(Window, CheckValueWidgetCatchesUpWithABurstOfSets)
{
    window->show();
    auto* field = child<QLineEdit>(window->checkValueField());
    int refreshes = 0;
    QObject::connect(field, &QLineEdit::textChanged, [&] { ++refreshes; });
    constexpr int kSets = 20000;
    const auto text = [](int i) { return QString::number(i, 16).toUpper().rightJustified(4, '0').toStdString(); };
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kSets; ++i)
            window->checkValueField().setText()(TData(text(i)));
        done = true;
        window->dispatcher().wake();
    });
    window->dispatcher().waitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return field->text() == QString::fromStdString(text(kSets - 1)); }, 10000));
    // Each refresh rests 50 ms: a burst would have to last seconds to reach this.
    EXPECT_LT(refreshes, 100);
}

TEST(TextCodec, DecodesWindows1251AndReplacesUndefinedBytes)
{
    EXPECT_EQ(fromCp1251("\xC0\xFF\xA8\xB8 COM3"), QString::fromUtf8("АяЁё COM3"));
    EXPECT_EQ(fromCp1251(std::string("a\x98" "b", 3)), QString::fromUtf8("a\xEF\xBF\xBD" "b"));
    constexpr Cp1251Literal literal("ещё");
    EXPECT_EQ(literal.view(), "\xE5\xF9\xB8");
}

} // namespace
} // namespace korv
