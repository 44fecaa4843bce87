#pragma once

// The controls of the window system this build is for: the build points
// KORV_UI_CONTROLS at ui/qt/Controls.h or ui/win32/Controls.h.
#include KORV_UI_CONTROLS
