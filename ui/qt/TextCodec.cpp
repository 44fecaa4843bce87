#include "ui/qt/TextCodec.h"

#include "link/Cp1251Text.h"

namespace korv {

QString fromCp1251(std::string_view bytes)
{
    const std::string utf8 = cp1251ToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace korv
