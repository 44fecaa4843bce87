// korvantemis-window-driver: the window program, built as its main() builds
// it, run through its own controls for the transfer benchmark: chooses a port
// in the port list from the keyboard, waits for the identification, idles if
// asked, presses "Записать" and times each stage.

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "app/UpdateController.h"
#include "image/ImageStore.h"
#include "serial/PortMap.h"
#include "update/ThreadReplyTimer.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kIdentifyLimit = 30s;
constexpr auto kTransferLimit = 180s;
// How often a wait looks at its deadline when no event comes.
constexpr auto kHeartbeat = 20ms;

constexpr const char* kUsage =
    "usage: korvantemis-window-driver [--idle SECONDS] PORT\n"
    "\n"
    "Runs the window program offscreen against the port map in\n"
    "KORVANTEMIS_PORT_MAP: chooses PORT in the port list, waits for the write\n"
    "button, idles SECONDS (default 0), writes the image and prints one JSON line\n"
    "with the times of each stage and the CPU time used while idle.\n";

[[noreturn]] void usageError(const std::string& text)
{
    // NOLINTNEXTLINE(cert-err33-c): nowhere to report
    std::fprintf(stderr, "korvantemis-window-driver: %s\n\n%s", text.c_str(), kUsage);
    std::exit(2);  // NOLINT(concurrency-mt-unsafe): while parsing, before the work starts
}

int fail(const std::string& text)
{
    std::fprintf(stderr, "korvantemis-window-driver: %s\n", text.c_str());  // NOLINT(cert-err33-c): nowhere to report
    return 1;
}

struct Options {
    QString port;
    double idleSeconds = 0;
};

Options parseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            // NOLINTNEXTLINE(concurrency-mt-unsafe): while parsing, before the work starts
            std::exit(std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1);
        } else if (arg == "--idle") {
            if (i + 1 >= argc)
                usageError("--idle needs a number of seconds");
            char* end = nullptr;
            options.idleSeconds = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(options.idleSeconds >= 0))
                usageError("--idle takes a number of seconds, 0 or more");
        } else if (options.port.isEmpty() && !arg.starts_with("-")) {
            options.port = QString::fromLocal8Bit(arg.data(), static_cast<qsizetype>(arg.size()));
        } else {
            usageError("unexpected argument " + std::string(arg));
        }
    }
    if (options.port.isEmpty())
        usageError("no port given");
    return options;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the window thread's event loop until ready() holds. It sleeps only
// inside the event dispatcher, so a request posted by the reader or timer
// thread is served at once, as under the program's own event loop.
bool serveUntil(const std::function<bool()>& ready, Clock::duration limit)
{
    QTimer heartbeat;
    heartbeat.start(kHeartbeat);
    QEventLoop loop;
    const Clock::time_point deadline = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() > deadline)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The event loop alone for `seconds`, with no timer of the driver's own, so
// that any CPU time used meanwhile is the program's.
void serveFor(double seconds)
{
    QEventLoop loop;
    // Precise, as a coarse timer may end the period up to 5 % early.
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::duration<double>(seconds)),
                       Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Presses "down" in the port list until it shows `port`, as a user picks a
// port from the keyboard (each press chooses the entry it lands on); false
// when the list has no such entry.
bool choosePort(QComboBox& box, const QString& port)
{
    box.setFocus();
    for (int presses = 0; presses < box.count(); ++presses) {
        QTest::keyClick(&box, Qt::Key_Down);
        if (box.currentText() == port)
            return true;
    }
    return false;
}

// The stages in order; the controller is released on every way out, as the
// program releases it when its event loop ends.
int run(const Options& options)
{
    korv::UpdateController controller({korv::PortMap::fromSystem(), korv::threadReplyTimers(),
                                       korv::ImageStore::loadEmbedded()});
    controller.startUp();
    korv::MainWindow& window = controller.window();
    auto* box = static_cast<QComboBox*>(window.portList().widget());
    auto* write = static_cast<QPushButton*>(window.writeButton().widget());
    QWidget* success = window.successMessage().widget();
    QWidget* error = window.errorMessage().widget();

    const Clock::time_point chosen = Clock::now();
    if (!choosePort(*box, options.port))
        return fail(options.port.toStdString() + " is not in the port list");
    if (!serveUntil([&] { return write->isEnabled(); }, kIdentifyLimit))
        return fail("the device did not identify");
    const double identifySeconds = secondsSince(chosen);

    const Clock::time_point idleStart = Clock::now();
    const double cpuBefore = processCpuSeconds();
    if (options.idleSeconds > 0)
        serveFor(options.idleSeconds);
    const double idleCpuSeconds = processCpuSeconds() - cpuBefore;
    const double idleSeconds = secondsSince(idleStart);

    const Clock::time_point clicked = Clock::now();
    QTest::mouseClick(write, Qt::LeftButton);
    if (!serveUntil([&] { return success->isVisibleTo(&window) || error->isVisibleTo(&window); },
                    kTransferLimit)) {
        return fail("the transfer neither succeeded nor failed in time");
    }
    const double transferSeconds = secondsSince(clicked);
    if (error->isVisibleTo(&window))
        return fail("the window shows the transfer error");

    // The line is the benchmark's result: one that cannot be written is a failure.
    if (std::printf("{\"identify_seconds\":%.3f,\"transfer_seconds\":%.3f,\"idle_seconds\":%.3f,"
                    "\"idle_cpu_seconds\":%.4f,\"result\":\"updated\"}\n",
                    identifySeconds, transferSeconds, idleSeconds, idleCpuSeconds) < 0
        || std::fflush(stdout) != 0)
        return fail("cannot write standard output");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Offscreen unless told otherwise: the benchmark needs no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // NOLINT(concurrency-mt-unsafe): before any thread
    QApplication app(argc, argv);
    return run(parseArguments(argc, argv));
}
