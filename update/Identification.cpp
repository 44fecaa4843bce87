#include "update/Identification.h"

#include "update/Ascii.h"
#include "update/IdentificationTexts.h"

namespace korv {
namespace {

constexpr std::string_view kRequest = "VERS";
constexpr std::string_view kToken = "KORVANTEMIS";

enum Event { SendRequest = 0, StatusText = 1, OpenPort = 2, Rejected = 3, Identified = 4 };

// Splits off the next word at the first space before the first zero byte; no
// such space makes the whole rest the word.
std::string_view nextWord(std::string_view& rest)
{
    const std::string_view searched = rest.substr(0, rest.find('\0'));
    const std::size_t space = searched.find(' ');
    if (space == std::string_view::npos) {
        const std::string_view word = rest;
        rest = {};
        return word;
    }
    const std::string_view word = rest.substr(0, space);
    rest.remove_prefix(space + 1);
    return word;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Replaces every marker not directly followed by a decimal digit; the inserted
// text is not searched again.
std::string replaceMarker(std::string_view text, std::string_view marker, std::string_view with)
{
    std::string out;
    out.reserve(text.size() + with.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const bool marked = text.compare(i, marker.size(), marker) == 0 &&
                            !(i + marker.size() < text.size() && isDigit(text[i + marker.size()]));
        if (marked) {
            out.append(with);
            i += marker.size();
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

} // namespace

ReplyWords replyWords(std::string_view text)
{
    ReplyWords words;
    words.first = nextWord(text);
    words.second = nextWord(text);
    words.third = nextWord(text);
    return words;
}

std::string deviceLine(std::string_view word2, std::string_view word3)
{
    const std::string line =
        replaceMarker(replaceMarker(texts::kDeviceLineFormat.view(), "%1", word2), "%2", word3);
    std::string shown;
    shown.reserve(line.size());
    for (char c : line) {
        if (c == '\x01')
            continue;
        shown.push_back(c == '\0' ? '%' : c);
    }
    return shown;
}

TClassMultiElementEx_24E88F0::TClassMultiElementEx_24E88F0() : SubScheme(3, 5, 0, 1) {}

void TClassMultiElementEx_24E88F0::onInput(int k, const TData& value)
{
    switch (k) {
    case 0: openResult(value); break;
    case 1: eventOut(OpenPort).fire(value); break;
    case 2: received(value.toText()); break;
    default: break;
    }
}

TData TClassMultiElementEx_24E88F0::value(int k) const
{
    if (k == 0)
        return TData(identified_.load());
    return {};
}

void TClassMultiElementEx_24E88F0::openResult(const TData& result) const
{
    if (result.toInt() == 0) {
        eventOut(Rejected).fire();
        eventOut(StatusText).fire(TData(texts::kNoDevice.str()));
        return;
    }
    eventOut(SendRequest).fire(TData(std::string(kRequest)));
}

void TClassMultiElementEx_24E88F0::received(const std::string& text)
{
    if (text.find(' ') == std::string::npos) {
        eventOut(Rejected).fire(TData(text));
        eventOut(StatusText).fire(TData(texts::kNoDevice.str()));
        return;
    }
    const ReplyWords words = replyWords(text);
    if (!equalIgnoringCase(words.first, kToken)) {
        eventOut(Rejected).fire(TData(std::string(words.first)));
        eventOut(StatusText).fire(TData(texts::kNoDevice.str()));
        return;
    }
    eventOut(StatusText).fire(TData(deviceLine(words.second, words.third)));
    // The flag's range is 0 to 1: a step past 1 comes back to 0.
    const std::int32_t flag = identified_.load();
    identified_.store(flag >= 1 ? 0 : flag + 1);
    eventOut(Identified).fire(TData(std::string(words.first)));
}

} // namespace korv
