#include "cli/Summary.h"

#include <cstdio>

#include "link/Cp1251Text.h"

namespace korv::cli {

const char* resultName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Updated: return "updated";
    case Outcome::Identified: return "identified";
    case Outcome::OpenFailed: return "open-failed";
    case Outcome::NotIdentified: return "not-identified";
    case Outcome::TransferFailed: return "transfer-failed";
    case Outcome::Interrupted: return "interrupted";
    }
    return "unknown";
}

std::string jsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20 || b == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", b);
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonLine(const Summary& s)
{
    const auto deviceText = [&](const std::string& cp1251) {
        return s.identity ? jsonString(cp1251ToUtf8(cp1251)) : std::string("null");
    };
    std::string line = "{\"port\":" + jsonString(s.port);
    line += ",\"path\":" + (s.path.empty() ? std::string("null") : jsonString(s.path));
    line += ",\"device\":" + deviceText(s.identity ? s.identity->name : std::string());
    line += ",\"version\":" + deviceText(s.identity ? s.identity->version : std::string());
    line += ",\"reply\":" + deviceText(s.identity ? s.identity->reply : std::string());
    line += ",\"bytes\":" + std::to_string(s.progress.bytes);
    line += ",\"blocks\":" + std::to_string(s.progress.blocks);
    if (s.transferRan) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", s.progress.seconds);
        line += ",\"seconds\":" + std::string(seconds);
    } else {
        line += ",\"seconds\":null";
    }
    line += ",\"result\":" + jsonString(resultName(s.outcome));
    line += ",\"reason\":" + (s.reason.empty() ? std::string("null") : jsonString(s.reason));
    return line + "}";
}

} // namespace korv::cli
