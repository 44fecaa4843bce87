#include "cli/Summary.h"

#include <cstdio>

#include "link/Cp1251Text.h"

namespace korv::cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of bytes, or 0:
// no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view bytes)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;   // the range the second byte must be in
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

const char* resultName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Updated: return "updated";
    case Outcome::Identified: return "identified";
    case Outcome::FinishedEarly: return "finished-early";
    case Outcome::OpenFailed: return "open-failed";
    case Outcome::NotIdentified: return "not-identified";
    case Outcome::TransferFailed: return "transfer-failed";
    case Outcome::Interrupted: return "interrupted";
    }
    return "unknown";
}

std::string jsonString(std::string_view bytes)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const char c = bytes[i];
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80) {
            const std::size_t length = utf8SequenceLength(bytes.substr(i));
            if (length == 0) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\\\x%02X", b);  // NOLINT(cert-err33-c): fits
                out += escaped;
                ++i;
            } else {
                out.append(bytes.substr(i, length));
                i += length;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20 || b == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", b);  // NOLINT(cert-err33-c): fits
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
        std::snprintf(seconds, sizeof seconds, "%.3f", s.progress.seconds);  // NOLINT(cert-err33-c): fits
        line += ",\"seconds\":" + std::string(seconds);
    } else {
        line += ",\"seconds\":null";
    }
    line += ",\"result\":" + jsonString(resultName(s.outcome));
    line += ",\"reason\":" + (s.reason.empty() ? std::string("null") : jsonString(s.reason));
    return line + "}";
}

} // namespace korv::cli
