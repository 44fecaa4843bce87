#include "image/ImageStore.h"

#include <QByteArray>
#include <QFile>

namespace korv {

ImageStore ImageStore::loadEmbedded()
{
    QFile resource(QStringLiteral(":/STREAM0"));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = resource.readAll();
    const auto* begin = reinterpret_cast<const std::uint8_t*>(data.constData());
    return ImageStore(std::vector<std::uint8_t>(begin, begin + data.size()));
}

std::uint8_t ImageStore::readNext()
{
    if (position_ >= bytes_.size())
        return 0;
    return bytes_[position_++];
}

} // namespace korv
