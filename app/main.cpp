#include <QApplication>
#include <QMessageBox>

#include "app/CommandLine.h"
#include "app/UpdateController.h"
#include "image/ImageStore.h"
#include "link/Cp1251.h"
#include "serial/PortMap.h"
#include "ui/TextCodec.h"
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
    // Looked at before Qt takes its own options out of the arguments.
    const bool info = korv::asksForInfo(argc, argv);
    QApplication app(argc, argv);
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
