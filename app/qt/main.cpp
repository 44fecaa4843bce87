#include <QApplication>
#include <QMessageBox>

#include "app/CommandLine.h"
#include "app/UpdateController.h"
#include "image/ImageStore.h"
#include "link/Cp1251.h"
#include "serial/PortMap.h"
#include "ui/qt/TextCodec.h"
#include "update/ThreadReplyTimer.h"

namespace {

constexpr korv::Cp1251Literal kInfoText("Сделано в Mirel.");
constexpr korv::Cp1251Literal kInfoTitle("Mirel Info");

void showInfo()
{
    QMessageBox box(QMessageBox::NoIcon, korv::fromCp1251(kInfoTitle.view()),
                    korv::fromCp1251(kInfoText.view()), QMessageBox::Ok);
    box.exec();
}

} // namespace

int main(int argc, char** argv)
{
    const bool info = korv::asksForInfo(argc, argv);
    // The toolkit gets the program's name and nothing else: the arguments
    // are the program's own, and only "/ih" means anything. Toolkit options
    // such as -reverse or -style would otherwise change the window.
    char fallbackName[] = "korvantemis-bootloader";
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    QApplication app(toolkitArgc, toolkitArgv);
    if (info) {
        showInfo();
        return 0;
    }
    {
        korv::UpdateController controller({korv::PortMap::fromSystem(), korv::threadReplyTimers(),
                                           korv::ImageStore::loadEmbedded()});
        controller.startUp();
        app.exec();
    }
    return 0;
}
