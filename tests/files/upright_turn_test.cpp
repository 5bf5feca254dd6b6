// Every reader turns a picture upright as its file's EXIF says, in
// whichever place its format keeps it (JPEG's APP1, PNG's eXIf, WebP's EXIF
// chunk, TIFF's Orientation field), as Pillow turns the same file
// (ImageMagick a TIFF: this Pillow mistakes a TIFF's orientation).
#include "platform/files/picture_files.h"
#include "support/comparisons.h"
#include "support/disk_files.h"
#include "support/exiftool.h"
#include "support/independent_writers.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(UprightTurn, EveryFormatTurnsThePictureAsItsExifSaysForEachOfTheEightOrientations)
{
    SKIP_WITHOUT_EXIFTOOL();
    SKIP_WITHOUT_PILLOW();
    SKIP_WITHOUT_IMAGEMAGICK();
    QTemporaryDir folder;
    // Lossless but for JPEG, whose pixels both read through libjpeg alike.
    const struct {
        const char *extension, *options;
        bool byImageMagick;
    } formats[] = {{"png", "", false}, {"tif", "", true}, {"webp", "lossless=True", false}, {"jpg", "quality=95", false}};
    for (const auto &format : formats) {
        const QString ext = QLatin1String(format.extension);
        const QByteArray stored = PillowWritten(7, 4, ext, QLatin1String(format.options));
        ASSERT_FALSE(stored.isEmpty());
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << format.extension << ", orientation " << orientation);
            const QByteArray file = ExiftoolEdited(stored, ext, {"-Orientation#=" + QString::number(orientation)});
            ASSERT_FALSE(file.isEmpty());
            const QString path = folder.filePath(QStringLiteral("turned.") + ext), expectedPath = folder.filePath(QStringLiteral("upright.png"));
            PutFile(path, file);
            PutFile(expectedPath, format.byImageMagick ? ImageMagickConverted(file, ext, {QStringLiteral("-auto-orient")}, QStringLiteral("PNG24"))
                                                       : PillowUpright(file, ext));
            TBitmap opened, expected;
            ASSERT_NO_THROW(ReadPictureFile(path, opened));
            ASSERT_NO_THROW(ReadPictureFile(expectedPath, expected));
            ASSERT_EQ(opened.GetWidth(), orientation >= 5 ? 4 : 7);
            EXPECT_TRUE(SameColours(opened, expected));
        }
    }
}
