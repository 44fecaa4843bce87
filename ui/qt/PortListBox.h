#pragma once

#include <QComboBox>

namespace korv {

// The port list's combo box. Its open drop-down is as tall as its entries,
// from one row to eight; with no entries it shows one empty row that cannot
// be chosen, so the user sees the list is empty rather than nothing at all.
class PortListBox : public QComboBox {
public:
    explicit PortListBox(QWidget* parent);

    void showPopup() override;
    void hidePopup() override;

private:
    bool placeholder_ = false;
};

} // namespace korv
