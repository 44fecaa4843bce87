#include "devsim/Report.h"

#include "devsim/DeviceModel.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace korv::devsim {

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);  // NOLINT(cert-err33-c): fits
    return text;
}

std::string microsecondsText(double microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", microseconds);  // NOLINT(cert-err33-c): fits
    return text;
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

} // namespace

Turnaround describeTurnaround(std::vector<double> microseconds) {
    Turnaround t;
    t.blocks = microseconds.size();
    if (microseconds.empty()) {
        return t;
    }
    std::sort(microseconds.begin(), microseconds.end());
    // Nearest rank: the smallest sample with at least the share at or below it.
    const auto rank = [&](double share) {
        const auto at = static_cast<std::size_t>(std::ceil(share * static_cast<double>(microseconds.size())));
        return microseconds[std::max<std::size_t>(at, 1) - 1];
    };
    t.median = rank(0.5);
    t.p99 = rank(0.99);
    t.max = microseconds.back();
    return t;
}

UpdateReport describeUpdate(bool identified, std::string_view image,
                            std::optional<double> seconds, std::vector<double> turnaroundMicroseconds) {
    const QByteArray hash = QCryptographicHash::hash(
        QByteArrayView(image.data(), static_cast<qsizetype>(image.size())),
        QCryptographicHash::Sha256);
    return UpdateReport{identified, image.size(), image.size() / kBlockSize,
                        hash.toHex().toStdString(), seconds,
                        describeTurnaround(std::move(turnaroundMicroseconds))};
}

std::string toJson(const UpdateReport& report) {
    return std::string("{\"identified\":") + yesNo(report.identified) +
           ",\"bytes\":" + std::to_string(report.bytes) +
           ",\"blocks\":" + std::to_string(report.blocks) + ",\"sha256\":\"" + report.sha256 +
           "\",\"pusk\":" + yesNo(report.seconds.has_value()) +
           ",\"seconds\":" + (report.seconds ? secondsText(*report.seconds) : "null") +
           ",\"turnaround_us\":{\"blocks\":" + std::to_string(report.turnaround.blocks) +
           ",\"median\":" + microsecondsText(report.turnaround.median) +
           ",\"p99\":" + microsecondsText(report.turnaround.p99) +
           ",\"max\":" + microsecondsText(report.turnaround.max) + "}}";
}

std::string toText(const UpdateReport& report) {
    return std::string(report.identified ? "identified" : "not identified") + ", " +
           std::to_string(report.bytes) + " image bytes, complete blocks " +
           std::to_string(report.blocks) + ", SHA-256 " + report.sha256 + ", " +
           (report.seconds ? "PUSK " + secondsText(*report.seconds) + " s after the first image byte"
                           : std::string("no PUSK")) +
           (report.turnaround.blocks == 0
                ? std::string()
                : ", next block " + microsecondsText(report.turnaround.median) + " us after an acknowledgement (median, " +
                      microsecondsText(report.turnaround.p99) + " us at the 99th percentile, " +
                      microsecondsText(report.turnaround.max) + " us at most)");
}

bool replaceFile(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!file.flush()) {
            std::remove(temporary.c_str());  // NOLINT(cert-err33-c): the failure is reported
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace korv::devsim
