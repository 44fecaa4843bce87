#include "app/UpdateController.h"

namespace korv {

TClassSimpleForm_2477650::TClassSimpleForm_2477650(Parts parts)
    : writeButton_(window_.writeButton()),
      statusField_(window_.statusField()),
      portList_(window_.portList()),
      transfer_(window_.dispatcher(), std::move(parts.image), parts.makeTimer),
      // The transfer writes each image byte on its own; gathered, a block
      // leaves in one piece instead of in 256 system calls.
      serial_(std::move(parts.ports), SerialPortChannel::ReaderWrites::Gathered),
      progressBar_(window_.progressBar()),
      versionLabel_(window_.versionLabel()),
      checkValueField_(window_.checkValueField()),
      receivedCheckLabel_(window_.receivedCheckLabel()),
      checkValueLabel_(window_.checkValueLabel()),
      okButton_(window_.okButton()),
      successMessage_(window_.successMessage()),
      errorMessage_(window_.errorMessage()),
      errorIcon_(window_.errorIcon()),
      connectionHint_(window_.connectionHint())
{
    // A reader that waits for the window hands on its gathered writes
    // first: "PUSK" has left before the success display shows.
    window_.dispatcher().setBeforeRequesterWaits([this] { serial_.flushReaderWrites(); });
    wire();
    // Right after the close event, for good: late events from the reader and
    // timer threads reach nothing, and requesters waiting on the window are let go.
    window_.afterClose = [this] {
        delivery::switchOffForGood();
        window_.dispatcher().shutDown();
    };
}

TClassSimpleForm_2477650::~TClassSimpleForm_2477650()
{
    delivery::switchOffForGood();
    window_.dispatcher().shutDown();
    // The reader and timer threads may still be inside a received text or a
    // tick, holding on to elements; they end before any element is released.
    serial_.release();
    transfer_.release();
}

// One connection a line, by element; a fan-out's outputs in firing order.
void TClassSimpleForm_2477650::wire()
{
    // 1 main window
    connect(window_.startUp, serial_.runDiscoveryOp());
    connect(window_.closed, closeMerge_.in(0));
    // 2 write button
    connect(writeButton_.click, writeFanOut_.in(0));
    // 4 port list
    connect(portList_.entryChosen, selectionFanOut_.in(0));
    // 5 send merge: identification event 0, transfer event 1
    connect(identification_.event(0), sendMerge_.in(0));
    connect(transfer_.event(1), sendMerge_.in(1));
    connect(sendMerge_.out(0), serial_.writeOp());
    // 6 identification
    connect(identification_.event(1), statusField_.setText());
    connect(identification_.event(2), serial_.openOp());
    connect(identification_.event(4), identifiedFanOut_.in(0));
    // 7 transfer
    connect(transfer_.event(0), progressBar_.setPosition());
    connect(transfer_.event(2), successFanOut_.in(0));
    connect(transfer_.event(3), failureFanOut_.in(0));
    connect(transfer_.event(4), checkValueField_.setText());
    connect(transfer_.dataInput(0), checkValueField_.getText());
    // 8 routing switch
    connect(routingSwitch_.route(), identification_.valueOutput(0));
    connect(routingSwitch_.out(0), identification_.input(2));
    connect(routingSwitch_.out(1), transfer_.input(0));
    // 9 serial port channel
    connect(serial_.openResult, identification_.input(0));
    connect(serial_.receivedText, routingSwitch_.in());
    connect(serial_.portFound, portList_.addEntry());
    connect(serial_.portName, portNameCell_.read());
    // 10 write fan-out
    connect(writeFanOut_.out(0), transfer_.input(1));
    connect(writeFanOut_.out(1), writeEnableMerge_.in(1));
    connect(writeFanOut_.out(2), windowEnableMerge_.in(0));
    // 12 identified fan-out
    connect(identifiedFanOut_.out(0), lockSource_.in());
    connect(identifiedFanOut_.out(1), writeEnableMerge_.in(0));
    // 13 lock source
    connect(lockSource_.out(), portList_.setEnabled());
    // 14 close merge: main window close event, selection fan-out output 0
    connect(closeMerge_.out(0), serial_.closeOp());
    // 19 write-enable merge
    connect(writeEnableMerge_.out(0), writeButton_.setEnabled());
    // 21 selection fan-out
    connect(selectionFanOut_.out(0), closeMerge_.in(1));
    connect(selectionFanOut_.out(1), portNameCell_.store());
    connect(selectionFanOut_.out(2), identification_.input(1));
    // 22 end fan-out: success fan-out output 0, failure fan-out output 0
    connect(endFanOut_.out(0), hideSource_.in());
    connect(endFanOut_.out(1), restoreSource_.in());
    // 23 hide source, 24 restore source
    connect(hideSource_.out(), hideFanOut_.in(0));
    connect(restoreSource_.out(), restoreFanOut_.in(0));
    // 25 hide fan-out
    connect(hideFanOut_.out(0), portList_.setVisible());
    connect(hideFanOut_.out(1), statusField_.setVisible());
    connect(hideFanOut_.out(2), progressBar_.setVisible());
    connect(hideFanOut_.out(3), writeButton_.setVisible());
    connect(hideFanOut_.out(4), versionLabel_.setVisible());
    // 26 window-enable merge: write fan-out output 2, restore fan-out output 0
    connect(windowEnableMerge_.out(0), window_.setEnabledOp());
    // 27 restore fan-out
    connect(restoreFanOut_.out(0), windowEnableMerge_.in(1));
    connect(restoreFanOut_.out(1), okButton_.setVisible());
    // 28 OK button
    connect(okButton_.click, window_.closeOp());
    // 31 success fan-out
    connect(successFanOut_.out(0), endFanOut_.in(0));
    connect(successFanOut_.out(1), latchSource_.in());
    connect(successFanOut_.out(2), successSource_.in());
    // 32 success source
    connect(successSource_.out(), successMessage_.setVisible());
    // 33 failure source
    connect(failureSource_.data(), successLatch_.read());
    connect(failureSource_.out(), failureDisplayFanOut_.in(0));
    // 34 failure fan-out
    connect(failureFanOut_.out(0), endFanOut_.in(1));
    connect(failureFanOut_.out(1), failureSource_.in());
    // 35 failure-display fan-out
    connect(failureDisplayFanOut_.out(0), connectionHint_.setVisible());
    connect(failureDisplayFanOut_.out(1), errorMessage_.setVisible());
    connect(failureDisplayFanOut_.out(2), errorIcon_.setVisible());
    // 39 latch source
    connect(latchSource_.out(), successLatch_.store());
}

void TClassSimpleForm_2477650::startUp()
{
    delivery::switchOn();
    window_.reportStartUp();
    window_.show();
}

} // namespace korv
