#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>

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

// Runs the window thread's event loop until ready() holds; unlike a wait that
// sleeps between rounds, requests from other threads are served at once.
inline bool serveUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    QTimer heartbeat;  // looks at ready() even when no event comes
    heartbeat.start(20);
    QEventLoop loop;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace korv::test
