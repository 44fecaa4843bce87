#pragma once

// The main window of the window system this build is for, with the interface
// the controller uses: the build points KORV_UI_MAIN_WINDOW at
// ui/qt/MainWindow.h or ui/win32/MainWindow.h.
#include KORV_UI_MAIN_WINDOW
