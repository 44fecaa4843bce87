#pragma once

#include <optional>
#include <string>

#include "cli/Flasher.h"

namespace korv::cli {

// Everything a run found out, for the one JSON line of --json.
struct Summary {
    std::string port;                 // as the user named it: "COM7" or a device path
    std::string path;                 // the device path, empty when unknown
    std::optional<Identity> identity; // when the device identified (Windows-1251 bytes)
    bool transferRan = false;
    Progress progress;
    Outcome outcome = Outcome::NotIdentified;
    std::string reason;               // empty on success
};

// "updated", "identified", "finished-early", "open-failed", "not-identified",
// "transfer-failed", "interrupted".
const char* resultName(Outcome outcome);

// {"port":"COM7","path":"/dev/ttyUSB0","device":"KV-12","version":"8.6",
//  "reply":"KORVANTEMIS KV-12 8.6","bytes":130048,"blocks":508,"seconds":34.2,
//  "result":"updated","reason":null}: valid UTF-8, without a line end.
std::string jsonLine(const Summary& summary);

// A JSON string literal, quotes included, of any bytes: UTF-8 sequences are
// kept, and each byte that is not part of one is written as the text \xNN,
// so that the literal is always valid UTF-8.
std::string jsonString(std::string_view bytes);

} // namespace korv::cli
