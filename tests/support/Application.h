#pragma once

#include <QApplication>

namespace korv::test {

// The test program's one QApplication, made on first use. Tests that build
// windows call it on their main thread, which thereby is the window thread.
inline QApplication& application()
{
    static int argc = 1;
    static char name[] = "korvantemis-tests";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr)
        new QApplication(argc, argv);
    return *static_cast<QApplication*>(QApplication::instance());
}

} // namespace korv::test
