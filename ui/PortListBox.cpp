#include "ui/PortListBox.h"

#include <QStandardItemModel>

namespace korv {

namespace {
constexpr int kMaxVisibleRows = 8;
}

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent)
{
    setMaxVisibleItems(kMaxVisibleRows);
}

void PortListBox::showPopup()
{
    if (count() == 0) {
        const QString edited = currentText();
        addItem(QString());
        if (auto* items = qobject_cast<QStandardItemModel*>(model()))
            items->item(0)->setFlags(Qt::NoItemFlags);
        setCurrentIndex(-1);
        setEditText(edited);
        placeholder_ = true;
    }
    QComboBox::showPopup();
}

void PortListBox::hidePopup()
{
    QComboBox::hidePopup();
    if (placeholder_) {
        placeholder_ = false;
        const QString edited = currentText();
        removeItem(0);
        setEditText(edited);
    }
}

} // namespace korv
