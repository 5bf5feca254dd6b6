// BMP reading: the public suite's good files against their reference renderings.
#include "platform/files/bmp_codec.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <set>

namespace {

struct TSuiteFile {
    const char *name;
    const char *reference;   // as html/bmpsuite.html pairs them
    TPixelFormat format;
};

const TSuiteFile SuiteFiles[] = {
    {"pal1", "pal1", pf1bit}, {"pal1wb", "pal1", pf1bit}, {"pal1bg", "pal1bg", pf1bit},
    {"pal4", "pal4", pf8bit}, {"pal4gs", "pal4gs", pf8bit}, {"pal4rle", "pal4", pf8bit},
    {"pal8", "pal8", pf8bit}, {"pal8-0", "pal8", pf8bit}, {"pal8gs", "pal8gs", pf8bit},
    {"pal8rle", "pal8", pf8bit}, {"pal8w126", "pal8w126", pf8bit}, {"pal8w125", "pal8w125", pf8bit},
    {"pal8w124", "pal8w124", pf8bit}, {"pal8topdown", "pal8", pf8bit}, {"pal8os2", "pal8", pf8bit},
    {"pal8v4", "pal8", pf8bit}, {"pal8v5", "pal8", pf8bit},
    // The editor's rendering: pixels as stored, not stretched to square.
    {"pal8nonsquare", "pal8nonsquare-e", pf8bit},
    {"rgb16", "rgb16", pf15bit}, {"rgb16bfdef", "rgb16", pf15bit}, {"rgb16-565", "rgb16-565", pf16bit},
    {"rgb16-565pal", "rgb16-565", pf16bit}, {"rgb24", "rgb24", pf24bit}, {"rgb24pal", "rgb24", pf24bit},
    {"rgb32", "rgb24", pf32bit}, {"rgb32bfdef", "rgb24", pf32bit}, {"rgb32bf", "rgb24", pf32bit},
};

std::span<const std::uint8_t> Bytes(const QByteArray &data)
{
    return {reinterpret_cast<const std::uint8_t *>(data.constData()), static_cast<std::size_t>(data.size())};
}

} // namespace

TEST(BmpSuite, EveryGoodFileOpensInItsFormatWithTheReferenceColoursAndSavesUnchanged)
{
    SKIP_WITHOUT_CORPORA(corpora);
    const QString suite = corpora + QStringLiteral("/bmpsuite-good/");
    std::set<QString> listed;
    for (const TSuiteFile &file : SuiteFiles) {
        SCOPED_TRACE(file.name);
        listed.insert(QString::fromLatin1(file.name) + QStringLiteral(".bmp"));
        QFile bmp(suite + QStringLiteral("g/%1.bmp").arg(QLatin1String(file.name)));
        const QByteArray data = bmp.open(QIODevice::ReadOnly) ? bmp.readAll() : QByteArray();
        ASSERT_FALSE(data.isEmpty());
        TBitmap bitmap;
        ASSERT_NO_THROW(DecodeBmp(Bytes(data), bitmap));
        EXPECT_EQ(bitmap.GetPixelFormat(), file.format);

        // Colour channels only: alpha is the one thing a reference may render differently.
        const QImage reference = QImage(suite + QStringLiteral("html/%1.png").arg(QLatin1String(file.reference)))
                                     .convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(reference.isNull());
        ASSERT_EQ(bitmap.GetWidth(), reference.width());
        ASSERT_EQ(bitmap.GetHeight(), reference.height());
        int wrong = 0;
        for (int y = 0; y < reference.height(); ++y)
            for (int x = 0; x < reference.width(); ++x) {
                const QRgb expected = reference.pixel(x, y);
                if (bitmap.GetPixel(x, y) != RGB(qRed(expected), qGreen(expected), qBlue(expected)) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << ", " << y << " is " << std::hex << bitmap.GetPixel(x, y)
                                  << ", the reference " << (expected & 0xFFFFFF);
            }
        EXPECT_EQ(wrong, 0);

        TBitmap reopened;
        ASSERT_NO_THROW(DecodeBmp(Bytes(EncodeBmp(bitmap)), reopened));
        EXPECT_TRUE(SameBitmap(bitmap, reopened));
    }
    // A file added to the suite without an entry here would go untested.
    for (const QString &name : QDir(suite + QStringLiteral("g")).entryList({QStringLiteral("*.bmp")}))
        EXPECT_TRUE(listed.count(name)) << name.toStdString() << " has no entry in SuiteFiles";
}
