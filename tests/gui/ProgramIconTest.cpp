#include "gui/ProgramIcon.h"

#include "gui/Form1.h"

#include <QFile>
#include <QImage>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

constexpr int IconSizes[] = { 16, 24, 32, 48 };

TEST(ProgramIcon, HasEverySizeAsA256ColourImage)
{
    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (const int size : IconSizes) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
        const QImage image(u":/icons/zavrinello-%1.png"_s.arg(size));
        ASSERT_FALSE(image.isNull()) << size;
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.format(), QImage::Format_Indexed8) << size;
        EXPECT_LE(image.colorCount(), 256);
        // Transparent corner, drawn middle.
        EXPECT_EQ(qAlpha(image.pixel(size - 1, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 4, size / 2)), 255) << size;
    }
}

TEST(ProgramIcon, IsTheWindowIcon)
{
    const Form1 form;
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    for (const int size : IconSizes)
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
}

// The Windows icon file: one resource with 48, 32, 24 and 16 px images, each
// an 8-bit (256-colour) bitmap with its own header.
TEST(ProgramIcon, IcoFileHoldsFourPaletteImages)
{
    QFile file(QStringLiteral(ZP_SOURCE_DIR "/resources/icons/zavrinello.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    ASSERT_GE(data.size(), 6);
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    EXPECT_EQ(qFromLittleEndian<quint16>(bytes + 2), 1); // icon, not cursor
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    ASSERT_EQ(count, 4);
    ASSERT_GE(data.size(), 6 + 16 * count);

    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const uchar* entry = bytes + 6 + 16 * i;
        const int size = entry[0];
        sizes.append(size);
        EXPECT_EQ(entry[1], size);
        EXPECT_EQ(qFromLittleEndian<quint16>(entry + 6), 8) << size;
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        ASSERT_LE(qint64(offset) + length, data.size()) << size;
        const uchar* bitmap = bytes + offset;
        EXPECT_EQ(qFromLittleEndian<qint32>(bitmap + 4), size);
        EXPECT_EQ(qFromLittleEndian<qint32>(bitmap + 8), 2 * size); // image and mask
        EXPECT_EQ(qFromLittleEndian<quint16>(bitmap + 14), 8) << size;
    }
    EXPECT_EQ(sizes, (QList<int> { 48, 32, 24, 16 }));
}

} // namespace
} // namespace zp
