#include "cli/FlashCommand.h"

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <unistd.h>

#include "cli/ExitCode.h"
#include "cli/Flasher.h"
#include "cli/PortListing.h"
#include "cli/ProgressDisplay.h"
#include "cli/Reasons.h"
#include "cli/Summary.h"
#include "cli/TerminalText.h"
#include "update/ThreadReplyTimer.h"

namespace korv::cli {
namespace {

using namespace std::chrono_literals;

constexpr auto kProgressPeriod = 100ms;
// A bootloader left in the middle of a transfer takes the next request for
// image bytes: it has to start afresh.
constexpr const char* kRestartHint = "restart it into its bootloader before the next attempt";
constexpr std::size_t kImageSize = static_cast<std::size_t>(Transfer::kBlocks) * Transfer::kBlockSize;

int exitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Identified:
    case Outcome::Updated: return kUpdated;
    case Outcome::FinishedEarly: return kFinishedEarly;
    case Outcome::OpenFailed: return kOpenFailed;
    case Outcome::NotIdentified: return kNotIdentified;
    case Outcome::TransferFailed: return kTransferFailed;
    case Outcome::Interrupted: return kInterrupted;
    }
    return kTransferFailed;
}

// Where a run's words go: with --json the summary alone is on standard
// output, and everything for people on standard error.
class Report {
public:
    Report(bool json, StandardOutput& out) : json_(json), out_(out) {}

    void info(const std::string& text) const
    {
        if (!json_) {
            out_.write(text + "\n");
            return;
        }
        std::fprintf(stderr, "%s\n", text.c_str());  // NOLINT(cert-err33-c): nowhere to report
        std::fflush(stderr);  // NOLINT(cert-err33-c): nowhere to report
    }

    int end(Summary& summary, Outcome outcome, std::string reason = {}) const
    {
        summary.outcome = outcome;
        summary.reason = std::move(reason);
        if (!summary.reason.empty())
            // NOLINTNEXTLINE(cert-err33-c): nowhere to report
            std::fprintf(stderr, "korvantemis-flash: %s\n", summary.reason.c_str());
        std::fflush(stderr);  // NOLINT(cert-err33-c): nowhere to report
        if (json_)
            out_.write(jsonLine(summary) + "\n");
        return out_.settle(exitCodeOf(outcome), std::string("the run ended as ") + resultName(outcome));
    }

private:
    bool json_;
    StandardOutput& out_;
};

OpenFailure whyNotOpen(const std::string& port, const std::string& path)
{
    OpenFailure failure{port, path, probeSerialDevice(path), {}, {}, false};
    if (failure.probe == SerialError::Busy)
        failure.holders = otherHolders(path);
    if (failure.probe == SerialError::AccessDenied) {
        failure.group = deviceGroup(path);
        failure.inGroup = inDeviceGroup(path);
    }
    return failure;
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);  // NOLINT(cert-err33-c): fits: a run's seconds
    return text;
}

} // namespace

void StandardOutput::write(std::string_view text)
{
    if (error_ != 0)
        return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0)
        error_ = errno != 0 ? errno : EIO;
}

int StandardOutput::settle(int status, const std::string& lost)
{
    if (error_ == 0)
        return status;
    // NOLINTNEXTLINE(cert-err33-c): nowhere else to report
    std::fprintf(stderr, "korvantemis-flash: cannot write standard output (%s); %s\n",
                 std::generic_category().message(error_).c_str(), lost.c_str());
    std::fflush(stderr);  // NOLINT(cert-err33-c): nowhere else to report
    return status == kUpdated ? kOutputFailed : status;
}

int runFlash(const Options& options, InterruptWatcher& interrupts, StandardOutput& out)
{
    const Report report(options.json, out);
    // JSON is UTF-8 whatever the terminal takes.
    const bool utf8 = options.json || terminalTakesUtf8();
    Summary summary;
    summary.port = options.device.empty() ? options.port : options.device;

    // A device path given directly becomes the only port of a map of its own.
    PortMap ports;
    std::string portName = options.port;
    if (!options.device.empty()) {
        ports = PortMap({{1, options.device}});
        portName = "COM1";
        summary.path = options.device;
    } else {
        ports = PortMap::fromSystem();
        const std::optional<std::string> path = ports.deviceFor(options.port);
        if (!path)
            return report.end(summary, Outcome::OpenFailed, noSuchPortReason(options.port));
        summary.path = *path;
    }
    const std::string where = summary.port == summary.path ? summary.path
                                                           : summary.port + " (" + summary.path + ")";

    ImageStore image = ImageStore::loadEmbedded();
    if (image.size() != kImageSize)
        return report.end(summary, Outcome::TransferFailed, "this program carries no usable firmware image");

    Flasher flasher({std::move(ports), threadReplyTimers(), std::move(image)});
    interrupts.watch([&flasher] { flasher.interrupt(); });
    // The watcher must not reach the flasher once it is gone.
    struct StopWatching {
        InterruptWatcher& watcher;
        ~StopWatching() { watcher.watch({}); }
    } stopWatching{interrupts};
    if (interrupts.interrupted())
        flasher.interrupt();

    report.info("Port " + where + ", 38462 bit/s 8N1");
    const Outcome identified = flasher.identify(portName, options.identifyTimeout);
    switch (identified) {
    case Outcome::Identified: break;
    case Outcome::OpenFailed:
        return report.end(summary, identified, openFailureReason(whyNotOpen(summary.port, summary.path)));
    case Outcome::Interrupted:
        flasher.close();
        return report.end(summary, identified, "interrupted before the device identified; the port is closed");
    default:
        flasher.close();
        return report.end(summary, identified,
                          notIdentifiedReason(where, options.identifyTimeout,
                                              printable(flasher.lastRejectedReply(), utf8)));
    }
    summary.identity = flasher.identity();
    report.info("Device: " + printable(summary.identity->reply, utf8));
    if (options.action == Options::Action::Identify) {
        flasher.close();
        return report.end(summary, Outcome::Identified);
    }

    report.info("Writing " + std::to_string(kImageSize) + " bytes in " + std::to_string(Transfer::kBlocks)
                + " blocks");
    ProgressDisplay display(stderr, isatty(STDERR_FILENO) == 1, kImageSize);
    const Outcome written =
        flasher.write([&display](const Progress& progress) { display.update(progress); }, kProgressPeriod);
    summary.transferRan = true;
    summary.progress = flasher.progress();
    display.finish(summary.progress);

    switch (written) {
    case Outcome::Updated:
        report.info("Updated: " + std::to_string(summary.progress.bytes) + " bytes in "
                    + secondsText(summary.progress.seconds) + "; the device was told to start the new firmware");
        return report.end(summary, written);
    case Outcome::FinishedEarly:
        return report.end(summary, written, finishedEarlyReason(summary.progress));
    case Outcome::Interrupted:
        return report.end(summary, written,
                          "interrupted after " + std::to_string(summary.progress.bytes) + " of "
                              + std::to_string(kImageSize)
                              + " bytes; the port is closed and the device was not told to start: "
                              + kRestartHint);
    default:
        return report.end(summary, written,
                          transferFailureReason(flasher.failure()) + "; the device was not told to start: "
                              + kRestartHint);
    }
}

int runList(StandardOutput& out)
{
    out.write(listingText(listPorts(PortMap::fromSystem())));
    return out.settle(kUpdated, "the port listing is lost");
}

} // namespace korv::cli
