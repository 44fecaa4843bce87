#pragma once

#include "image/ImageStore.h"
#include "link/Elements.h"
#include "serial/SerialPortChannel.h"
#include "ui/MainWindow.h"
#include "update/Identification.h"
#include "update/ReplyTimer.h"
#include "update/Transfer.h"

namespace korv {

// The top of the program: builds the window, the serial channel and the two
// sub-schemes, and connects them once. The members are the elements in the
// order of creation, so they are released in the reverse order, the window
// last.
class TClassSimpleForm_2477650 {
public:
    // What the controller is built from; tests give their own port map,
    // timer and image.
    struct Parts {
        PortMap ports;
        ReplyTimerFactory makeTimer;
        ImageStore image;
    };

    explicit TClassSimpleForm_2477650(Parts parts);
    ~TClassSimpleForm_2477650();
    TClassSimpleForm_2477650(const TClassSimpleForm_2477650&) = delete;
    TClassSimpleForm_2477650& operator=(const TClassSimpleForm_2477650&) = delete;

    // Switches event delivery on, reports the window's start-up event (port
    // discovery fills the port list) and then shows the window.
    void startUp();

    MainWindow& window() { return window_; }
    Identification& identification() { return identification_; }
    Transfer& transfer() { return transfer_; }
    SerialPortChannel& serial() { return serial_; }

private:
    void wire();

    MainWindow window_;                         //  1 main window
    Button& writeButton_;                       //  2
    StatusField& statusField_;                  //  3
    PortList& portList_;                        //  4
    FanOut sendMerge_{2, 1};                    //  5
    Identification identification_;             //  6
    Transfer transfer_;                         //  7
    RoutingSwitch routingSwitch_{2};            //  8
    SerialPortChannel serial_;                  //  9 with port discovery
    FanOut writeFanOut_{1, 3};                  // 10
    ProgressBar& progressBar_;                  // 11
    FanOut identifiedFanOut_{1, 2};             // 12
    FixedSource lockSource_{std::int32_t{0}};   // 13
    FanOut closeMerge_{2, 1};                   // 14
    Control& versionLabel_;                     // 15
    CheckValueField& checkValueField_;          // 16
    Control& receivedCheckLabel_;               // 17
    Control& checkValueLabel_;                  // 18
    FanOut writeEnableMerge_{2, 1};             // 19
    ValueCell portNameCell_;                    // 20
    FanOut selectionFanOut_{1, 3};              // 21
    FanOut endFanOut_{2, 2};                    // 22
    FixedSource hideSource_{std::int32_t{0}};   // 23
    FixedSource restoreSource_{std::int32_t{1}};// 24
    FanOut hideFanOut_{1, 5};                   // 25
    FanOut windowEnableMerge_{2, 1};            // 26
    FanOut restoreFanOut_{1, 2};                // 27
    Button& okButton_;                          // 28
    Control& successMessage_;                   // 29
    Control& errorMessage_;                     // 30
    FanOut successFanOut_{1, 3};                // 31
    FixedSource successSource_{std::int32_t{1}};// 32
    FixedSource failureSource_{std::int32_t{1}};// 33 its data input reads the success latch
    FanOut failureFanOut_{1, 2};                // 34
    FanOut failureDisplayFanOut_{1, 3};         // 35
    Control& errorIcon_;                        // 36
    Control& connectionHint_;                   // 37
    ValueCell successLatch_;                    // 38
    FixedSource latchSource_{std::int32_t{0}};  // 39
};

using UpdateController = TClassSimpleForm_2477650;

} // namespace korv
