#include "ui/qt/PortListBox.h"

#include <QLineEdit>
#include <QStandardItemModel>

namespace korv {

namespace {
constexpr int kMaxVisibleRows = 8;
}

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent)
{
    setMaxVisibleItems(kMaxVisibleRows);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    // The combo box makes a typed name that equals an entry its choice when
    // the text part reports Enter or the end of editing; typing must choose
    // nothing, so those two reports go nowhere. Choices in the drop-down and
    // with the arrow keys take other paths.
    QObject::disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    QObject::disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
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
