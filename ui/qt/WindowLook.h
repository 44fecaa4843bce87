#pragma once

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <string_view>

namespace korv {

// "MS Sans Serif" where present, else a sans-serif font with Cyrillic letters
// at the same point size.
QFont programFont(int pointSize, bool bold = false);

// Sets a label's text (Windows-1251) and sizes the label to it: text width
// and height plus 1 pixel, or, for a label docked to the top, the given
// width and the text height plus 1.
void setLabelText(QLabel* label, std::string_view cp1251, int dockedWidth = 0);

// The picture scaled with smoothing into a box, proportions kept, centred,
// the strips it leaves filled with the given colour.
QPixmap fitPicture(const QPixmap& picture, QSize box, const QColor& fill);

} // namespace korv
