// The identification's judging of received text: a text is accepted exactly
// when its first word, ended by the first space before any zero byte, lowers
// to "korvantemis"; every other text is rejected and the flag stays 0.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "Require.h"
#include "update/Identification.h"
#include "update/IdentificationTexts.h"

using korv::TData;
using korv::fuzz::require;

namespace {

struct Fired {
    int event;
    TData value;
};

// What the rule makes of a text, worked out apart from the code under test.
struct Judged {
    bool hasSpace;      // anywhere in the text
    std::string word1;  // up to the first space before any zero byte, else all
    bool accepted;
};

Judged judge(const std::string& text)
{
    const std::size_t space = text.substr(0, text.find('\0')).find(' ');
    Judged judged{text.find(' ') != std::string::npos, text.substr(0, space), false};
    static const std::string token = "korvantemis";
    std::string lowered = judged.word1;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    judged.accepted = judged.hasSpace && lowered == token;
    return judged;
}

bool plain(const std::string& word)
{
    return word.find_first_of(std::string("%\x01\0", 3)) == std::string::npos;
}

void checkDeviceLine(const std::string& text, const std::string& line)
{
    require(line.find('\0') == std::string::npos && line.find('\x01') == std::string::npos,
            "the device line holds no zero byte and no byte 01");
    // Words 2 and 3 as the rule splits them, when they hold nothing the
    // line would change.
    std::string rest = text.substr(text.find(' ') + 1);
    std::string words[2];
    for (std::string& word : words) {
        const std::size_t space = rest.substr(0, rest.find('\0')).find(' ');
        word = rest.substr(0, space);
        rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
    }
    if (plain(words[0]) && plain(words[1])) {
        std::string expected(korv::texts::kDeviceLineFormat.view());
        expected.replace(expected.find("%1"), 2, words[0]);
        expected.replace(expected.find("%2"), 2, words[1]);
        require(line == expected, "the device line is the format filled with words 2 and 3");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    korv::delivery::switchOn();
    FuzzedDataProvider input(data, size);
    korv::Identification identification;
    std::vector<Fired> fired;
    for (int k = 0; k < 5; ++k)
        identification.event(k).connect([&fired, k](TData v) { fired.push_back({k, std::move(v)}); });
    const TData noDevice(korv::texts::kNoDevice.str());

    const std::int32_t openResult = input.ConsumeIntegral<std::int32_t>();
    identification.onInput(0, TData(openResult));
    if (openResult == 0) {
        require(fired.size() == 2 && fired[0].event == 3 && fired[0].value.isEmpty()
                    && fired[1].event == 1 && fired[1].value == noDevice,
                "a failed opening is rejected without a value, then the no-device message");
    } else {
        require(fired.size() == 1 && fired[0].event == 0 && fired[0].value == TData("VERS"),
                "an opened port is asked \"VERS\" once and nothing else");
    }

    // Texts one after another, as separate reads deliver them, until one is accepted.
    while (input.remaining_bytes() > 0) {
        const std::string text = input.ConsumeRandomLengthString(64);
        fired.clear();
        identification.onInput(2, TData(text));
        const Judged judged = judge(text);
        if (judged.accepted) {
            require(fired.size() == 2 && fired[0].event == 1 && fired[1].event == 4
                        && fired[1].value == TData(judged.word1),
                    "an accepted text shows the device line, then reports word 1 as received");
            require(identification.value(0) == TData(std::int32_t{1}), "acceptance sets the flag to 1");
            checkDeviceLine(text, fired[0].value.toText());
            break;
        }
        require(fired.size() == 2 && fired[0].event == 3 && fired[1].event == 1
                    && fired[1].value == noDevice,
                "a rejected text reports the rejection, then the no-device message");
        require(fired[0].value == TData(judged.hasSpace ? judged.word1 : text),
                "the rejection carries word 1, or the whole text when it has no space");
        require(identification.value(0) == TData(std::int32_t{0}), "a rejection leaves the flag at 0");
    }
    return 0;
}
