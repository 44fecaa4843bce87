#include "devsim/Report.h"

#include "devsim/DeviceModel.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <cstdio>
#include <fstream>

namespace korv::devsim {

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

} // namespace

UpdateReport describeUpdate(bool identified, std::string_view image,
                            std::optional<double> seconds) {
    const QByteArray hash = QCryptographicHash::hash(
        QByteArrayView(image.data(), static_cast<qsizetype>(image.size())),
        QCryptographicHash::Sha256);
    return UpdateReport{identified, image.size(), image.size() / kBlockSize,
                        hash.toHex().toStdString(), seconds};
}

std::string toJson(const UpdateReport& report) {
    return std::string("{\"identified\":") + yesNo(report.identified) +
           ",\"bytes\":" + std::to_string(report.bytes) +
           ",\"blocks\":" + std::to_string(report.blocks) + ",\"sha256\":\"" + report.sha256 +
           "\",\"pusk\":" + yesNo(report.seconds.has_value()) +
           ",\"seconds\":" + (report.seconds ? secondsText(*report.seconds) : "null") + "}";
}

std::string toText(const UpdateReport& report) {
    return std::string(report.identified ? "identified" : "not identified") + ", " +
           std::to_string(report.bytes) + " image bytes, complete blocks " +
           std::to_string(report.blocks) + ", SHA-256 " + report.sha256 + ", " +
           (report.seconds ? "PUSK " + secondsText(*report.seconds) + " s after the first image byte"
                           : std::string("no PUSK"));
}

bool replaceFile(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!file.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace korv::devsim
