#include "ui/qt/WindowLook.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include "ui/qt/TextCodec.h"

namespace korv {

QFont programFont(int pointSize, bool bold)
{
    static const QString family = [] {
        const QStringList all = QFontDatabase::families();
        if (all.contains(QStringLiteral("MS Sans Serif")))
            return QStringLiteral("MS Sans Serif");
        const QStringList cyrillic = QFontDatabase::families(QFontDatabase::Cyrillic);
        for (const QString& preferred : {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                         QStringLiteral("Noto Sans")}) {
            if (cyrillic.contains(preferred))
                return preferred;
        }
        return cyrillic.isEmpty() ? QStringLiteral("Sans Serif") : cyrillic.first();
    }();
    QFont font(family, pointSize);
    font.setBold(bold);
    return font;
}

void setLabelText(QLabel* label, std::string_view cp1251, int dockedWidth)
{
    const QString text = fromCp1251(cp1251);
    label->setText(text);
    const QSize textSize = QFontMetrics(label->font()).size(0, text);
    if (dockedWidth > 0)
        label->resize(dockedWidth, textSize.height() + 1);
    else
        label->resize(textSize.width() + 1, textSize.height() + 1);
}

QPixmap fitPicture(const QPixmap& picture, QSize box, const QColor& fill)
{
    QPixmap out(box);
    out.fill(fill);
    if (picture.isNull())
        return out;
    const QPixmap scaled = picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&out);
    painter.drawPixmap((box.width() - scaled.width()) / 2, (box.height() - scaled.height()) / 2, scaled);
    return out;
}

} // namespace korv
