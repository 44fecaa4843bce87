// The icon and the error picture reach a program that links korv_resources.

#include <QColor>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

bool isLightGrey(QColor c) {
    return c.red() > 200 && c.red() == c.green() && c.green() == c.blue() && c.red() < 250;
}

bool isRed(QColor c) {
    return c.red() > 150 && c.green() < 60 && c.blue() < 60;
}

bool isWhite(QColor c) {
    return c.red() == 255 && c.green() == 255 && c.blue() == 255;
}

TEST(Resources, ThePictureIsEmbedded) {
    ASSERT_TRUE(QFile::exists(QStringLiteral(":/BITMAP0")));
    const QImage picture(QStringLiteral(":/BITMAP0"));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(290, 290));
    EXPECT_FALSE(picture.hasAlphaChannel());
    EXPECT_EQ(picture.depth(), 32);
}

TEST(Resources, ThePictureIsARedMarkWithAWhiteCrossOnGrey) {
    const QImage picture(QStringLiteral(":/BITMAP0"));
    ASSERT_FALSE(picture.isNull());
    EXPECT_TRUE(isLightGrey(picture.pixelColor(2, 2)));
    EXPECT_TRUE(isLightGrey(picture.pixelColor(287, 287)));
    EXPECT_TRUE(isWhite(picture.pixelColor(145, 145)));
    EXPECT_TRUE(isWhite(picture.pixelColor(100, 100)));
    EXPECT_TRUE(isWhite(picture.pixelColor(190, 100)));
    EXPECT_TRUE(isRed(picture.pixelColor(145, 60)));
    EXPECT_TRUE(isRed(picture.pixelColor(60, 145)));
    EXPECT_TRUE(isRed(picture.pixelColor(145, 230)));
}

TEST(Resources, TheIconHasBothSizes) {
    for (int size : {16, 32}) {
        const QString name = QStringLiteral(":/TULP%1").arg(size);
        ASSERT_TRUE(QFile::exists(name)) << size;
        const QImage icon(name);
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_FALSE(icon.hasAlphaChannel());
    }
}

} // namespace
