#include "cli/Reasons.h"

#include <cstdio>

#include "update/Transfer.h"

namespace korv::cli {
namespace {

// The README section, under its Troubleshooting heading, for the user who
// needs more than the message.
std::string seeReadme(const std::string& section)
{
    return "; see \"" + section + "\" under Troubleshooting in the README";
}

bool heldByModemManager(const std::vector<PortHolder>& holders)
{
    for (const PortHolder& holder : holders) {
        if (holder.command == "ModemManager")
            return true;
    }
    return false;
}

} // namespace

std::string holdersText(const std::vector<PortHolder>& holders)
{
    std::string text;
    for (const PortHolder& holder : holders) {
        text += text.empty() ? "held by " : ", ";
        text += (holder.command.empty() ? std::string("a process") : holder.command) + " (pid "
                + std::to_string(holder.pid) + ")";
    }
    return text;
}

std::string groupHint(const std::string& group)
{
    if (group.empty() || group == "root")
        return "ask the administrator for access to the device";
    return "join the group '" + group + "' (sudo usermod -aG " + group
           + " \"$USER\"), then log out and in again";
}

std::string openFailureReason(const OpenFailure& f)
{
    const std::string where = f.port == f.path ? f.path : f.port + " (" + f.path + ")";
    switch (f.probe) {
    case SerialError::NotFound:
        return "cannot open " + where + ": no such device; is the adapter plugged in?"
               + seeReadme("The port is missing");
    case SerialError::Busy: {
        const std::string held = holdersText(f.holders);
        return "cannot open " + where + ": the port is in use by another program"
               + (held.empty() ? std::string() : " (" + held + ")") + "; close it and try again"
               + seeReadme(heldByModemManager(f.holders) ? "Busy right after plugging in: ModemManager"
                                                         : "In use by another program");
    }
    case SerialError::AccessDenied:
        if (f.inGroup)
            return "cannot open " + where + ": permission denied, although you are in the group '"
                   + f.group + "'" + seeReadme("Permission denied");
        return "cannot open " + where + ": permission denied; " + groupHint(f.group)
               + seeReadme("Permission denied");
    case SerialError::NotATerminal:
        return "cannot open " + where + ": not a serial port";
    case SerialError::None:
        // The device opens, so it was the line settings it refused.
        return "cannot open " + where + ": the port does not take 38462 bit/s 8N1";
    default:
        return "cannot open " + where + ": the system refused it";
    }
}

std::string noSuchPortReason(const std::string& port)
{
    return "there is no port " + port + " on this machine (--list shows the ports)"
           + seeReadme("The port is missing");
}

std::string notIdentifiedReason(const std::string& port, std::chrono::milliseconds timeout,
                                const std::string& lastReplyPrintable)
{
    char seconds[32];
    // NOLINTNEXTLINE(cert-err33-c): fits
    std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(timeout.count()) / 1000);
    std::string text = "no Korvantemis device answered on " + port + " within " + seconds + " s";
    if (lastReplyPrintable.empty())
        return text + " (no reply at all); check the cable and that the device is in its bootloader";
    return text + " (last reply: \"" + lastReplyPrintable + "\")";
}

std::string transferFailureReason(const TransferFailure& f)
{
    if (f.beforeStart)
        return "the device sent an unexpected reply (" + f.replyHex
               + " in hex) before the first block; nothing was written";
    if (f.block > Transfer::kBlocks)
        return "the device did not finish after the last block: its reply (" + f.replyHex
               + " in hex) came in pieces or was not the finished reply; the transfer was stopped";
    const std::string block =
        "block " + std::to_string(f.block) + " of " + std::to_string(Transfer::kBlocks);
    if (f.silent)
        return "the device stopped answering after " + block
               + " was sent (no reply for 3 s); check the cable and the device's power";
    return "the device answered " + block + " with " + (f.replyHex.empty() ? "nothing" : f.replyHex)
           + " where " + f.expectedHex + " was expected (hex); the transfer was stopped";
}

std::string finishedEarlyReason(const Progress& acknowledged)
{
    return "the device declared the update finished after block " + std::to_string(acknowledged.blocks)
           + " of " + std::to_string(Transfer::kBlocks) + ", with only " + std::to_string(acknowledged.bytes)
           + " of " + std::to_string(Transfer::kBlocks * Transfer::kBlockSize)
           + " bytes acknowledged; it was not told to start the incomplete image: restart it into its "
             "bootloader and try again; if it finishes early again, this image is not for this device";
}

} // namespace korv::cli
