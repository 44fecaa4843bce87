#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateController.h"
#include "image/ImageStore.h"
#include "link/Cp1251.h"
#include "serial/PortMap.h"
#include "ui/win32/WideText.h"
#include "update/ThreadReplyTimer.h"

namespace {

constexpr korv::Cp1251Literal kInfoText("Сделано в Mirel.");
constexpr korv::Cp1251Literal kInfoTitle("Mirel Info");

// The command line as the system splits it, each argument in UTF-8: only
// "/ih" is looked for, which reads the same in any encoding.
std::vector<std::string> arguments()
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
        if (length > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::vector<std::string> args = arguments();
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    if (korv::asksForInfo(static_cast<int>(argv.size()), argv.data())) {
        // A message box of the system's own, without an owner window, with
        // one OK button and no icon.
        MessageBoxW(nullptr, korv::toWide(kInfoText.view()).c_str(), korv::toWide(kInfoTitle.view()).c_str(), MB_OK);
        return 0;
    }
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    {
        korv::UpdateController controller({korv::PortMap::fromSystem(), korv::threadReplyTimers(),
                                           korv::ImageStore::loadEmbedded()});
        controller.startUp();
        controller.window().runMessageLoop();
    }
    return 0;
}
