#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/UpdateController.h"
#include "support/Application.h"
#include "ui/qt/TextCodec.h"
#include "update/ReplyTimer.h"

namespace korv {
namespace {

// Ticks only when told; the stage tests never need one.
class IdleTimer : public ReplyTimer {
public:
    void start() override { running_ = true; }
    void stop() override { running_ = false; }
    bool isRunning() const override { return running_; }

private:
    bool running_ = false;
};

enum class Stage { Waiting, Identified, Transferring, Succeeded, Failed, SucceededThenFailed, FailedThenSucceeded };

class Controller : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::application(); }
    void SetUp() override
    {
        delivery::reset();
        controller = std::make_unique<UpdateController>(UpdateController::Parts{
            PortMap{}, [](std::chrono::milliseconds, ReplyTimer::Tick) { return std::make_unique<IdleTimer>(); },
            ImageStore(std::vector<std::uint8_t>(130048, 0x5A))});
        controller->startUp();
    }
    void TearDown() override
    {
        controller.reset();
        delivery::reset();
    }

    MainWindow& w() { return controller->window(); }
    bool shown(Control& c) { return c.widget()->isVisibleTo(&w()); }
    bool enabled(Control& c) { return c.widget()->isEnabled(); }
    QString status() { return static_cast<QLineEdit*>(w().statusField().widget())->text(); }

    void identify() { controller->serial().receivedText.fire(TData("KORVANTEMIS KV-12 8.6")); }
    void pressWrite() { QTest::mouseClick(static_cast<QPushButton*>(w().writeButton().widget()), Qt::LeftButton); }

    void expectStage(Stage s)
    {
        const bool ended = s == Stage::Succeeded || s == Stage::Failed || s == Stage::SucceededThenFailed ||
                           s == Stage::FailedThenSucceeded;
        EXPECT_EQ(w().acceptsInput(), s != Stage::Transferring);
        EXPECT_EQ(shown(w().portList()), !ended);
        EXPECT_EQ(enabled(w().portList()), s == Stage::Waiting);
        EXPECT_EQ(shown(w().statusField()), !ended);
        EXPECT_EQ(shown(w().versionLabel()), !ended);
        EXPECT_EQ(shown(w().writeButton()), !ended);
        if (!ended) {  // once hidden, whether it is enabled depends on the road taken
            EXPECT_EQ(enabled(w().writeButton()), s == Stage::Identified);
        }
        EXPECT_EQ(shown(w().progressBar()), !ended);
        EXPECT_FALSE(shown(w().checkValueField()));
        EXPECT_EQ(shown(w().okButton()), ended);
        const bool success = s == Stage::Succeeded || s == Stage::SucceededThenFailed || s == Stage::FailedThenSucceeded;
        const bool failure = s == Stage::Failed || s == Stage::FailedThenSucceeded;
        EXPECT_EQ(shown(w().successMessage()), success);
        EXPECT_EQ(shown(w().errorMessage()), failure);
        EXPECT_EQ(shown(w().connectionHint()), failure);
        EXPECT_EQ(shown(w().errorIcon()), failure);
    }

    std::unique_ptr<UpdateController> controller;
};

TEST_F(Controller, StartsWaitingShownAfterStartUp)
{
    EXPECT_TRUE(w().isVisible());
    expectStage(Stage::Waiting);
}

TEST_F(Controller, FailedOpeningShowsTheNoDeviceMessageAndKeepsWaiting)
{
    auto* box = static_cast<QComboBox*>(w().portList().widget());
    w().portList().addEntry()(TData("COM9"));
    emit box->activated(0);  // COM9 is not in the (empty) port map: open result 0
    EXPECT_EQ(status(), QString::fromUtf8("На этом порту устройств не найдено."));
    expectStage(Stage::Waiting);
}

TEST_F(Controller, IdentifiedThenTransferringThenSucceeded)
{
    identify();
    EXPECT_EQ(status(), QString::fromUtf8("Устройство: KV-12   Текущая версия ПО: 8.6"));
    expectStage(Stage::Identified);
    pressWrite();
    expectStage(Stage::Transferring);
    controller->transfer().event(0).fire(TData(std::int32_t{17}));
    EXPECT_EQ(static_cast<QProgressBar*>(w().progressBar().widget())->value(), 17);
    controller->transfer().event(2).fire(TData("12344 65A"));
    expectStage(Stage::Succeeded);
}

TEST_F(Controller, EndReportsInEitherOrder)
{
    struct Case {
        std::vector<int> events;  // transfer events 2 (finished) and 3 (failed), in order
        Stage stage;
    } cases[] = {
        {{3}, Stage::Failed},
        {{2, 3}, Stage::SucceededThenFailed},
        {{3, 2}, Stage::FailedThenSucceeded},
        {{3, 3}, Stage::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.events));
        TearDown();
        SetUp();
        identify();
        pressWrite();
        for (int e : c.events)
            controller->transfer().event(e).fire(TData(std::int32_t{3}));
        expectStage(c.stage);
    }
}

TEST_F(Controller, PortListStaysDisabledAfterIdentification)
{
    identify();
    EXPECT_FALSE(enabled(w().portList()));
    identify();  // goes to the transfer now, which rejects it: the failure display runs
    expectStage(Stage::Failed);
    controller->transfer().event(2).fire(TData(""));
    EXPECT_FALSE(enabled(w().portList()));
}

// The port list held the focus when it was locked: the write button takes
// it, and the status field does not show the device line selected, neither
// then nor once the write button has been pressed and disabled in turn.
TEST_F(Controller, AfterIdentificationTheWriteButtonHasTheFocusAndNoTextShowsSelected)
{
    w().portList().addEntry()(TData("COM9"));
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w()));
    auto* box = static_cast<QComboBox*>(w().portList().widget());
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(box->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == box);
    auto* field = static_cast<QLineEdit*>(w().statusField().widget());

    identify();
    EXPECT_EQ(QApplication::focusWidget(), w().writeButton().widget());
    EXPECT_FALSE(field->hasSelectedText()) << field->selectedText().toStdString();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);  // the focused button, from the keyboard
    expectStage(Stage::Transferring);
    EXPECT_FALSE(field->hasSelectedText()) << field->selectedText().toStdString();
}

TEST_F(Controller, RoutesTheFirstTextAfterAcceptanceToTheTransfer)
{
    controller->serial().receivedText.fire(TData("KORVANTEMIS V2"));
    expectStage(Stage::Identified);
    controller->serial().receivedText.fire(TData(" 1.05\r\n"));  // the rest of the reply
    expectStage(Stage::Failed);
}

TEST_F(Controller, NothingReactsAfterTheWindowHasClosed)
{
    w().close();
    EXPECT_FALSE(w().isVisible());
    identify();
    EXPECT_EQ(status(), QString::fromUtf8("Выберите порт с подключённым устройством."));
}

} // namespace
} // namespace korv
