// Reading and writing picture files.
#include "picture_files.h"

#include "bmp_codec.h"
#include "qt_codec.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <new>

TPictureFileFormat PictureFileFormatFor(const AnsiString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png")) return TPictureFileFormat::Png;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("jpe"))
        return TPictureFileFormat::Jpeg;
    if (suffix == QLatin1String("pbm")) return TPictureFileFormat::Pbm;
    if (suffix == QLatin1String("pgm")) return TPictureFileFormat::Pgm;
    if (suffix == QLatin1String("ppm")) return TPictureFileFormat::Ppm;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) return TPictureFileFormat::Tiff;
    if (suffix == QLatin1String("webp")) return TPictureFileFormat::Webp;
    return TPictureFileFormat::Bmp;
}

void DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    if (bytes.empty()) throw Exception(QStringLiteral("the file is empty"));
    if (LooksLikeBmp(bytes))
        DecodeBmp(bytes, into);
    else
        DecodeWithQt(bytes, into);
}

QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format)
{
    switch (format) {
    case TPictureFileFormat::Bmp: return EncodeBmp(bitmap);
    case TPictureFileFormat::Png: return EncodeWithQt(bitmap, "png");
    case TPictureFileFormat::Jpeg: return EncodeWithQt(bitmap, "jpg");
    case TPictureFileFormat::Pbm: return EncodeWithQt(bitmap, "pbm");
    case TPictureFileFormat::Pgm: return EncodeWithQt(bitmap, "pgm");
    case TPictureFileFormat::Ppm: return EncodeWithQt(bitmap, "ppm");
    case TPictureFileFormat::Tiff: return EncodeWithQt(bitmap, "tiff");
    case TPictureFileFormat::Webp: return EncodeWithQt(bitmap, "webp");
    }
    return EncodeBmp(bitmap);
}

namespace {

[[noreturn]] void Fail(const char *action, const AnsiString &fileName, const QString &reason)
{
    throw Exception(QStringLiteral("Cannot %1 %2: %3").arg(QLatin1String(action), QuotedPath(fileName), reason));
}

} // namespace

void ReadPictureFile(const AnsiString &fileName, TBitmap &into)
{
    if (QFileInfo(fileName).isDir()) Fail("open", fileName, QStringLiteral("it is a folder, not a file"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) Fail("open", fileName, file.errorString());
    const qint64 size = file.size();
    if (size <= 0) Fail("open", fileName, QStringLiteral("the file is empty"));
    // Mapping spares a copy of the whole file; reading is the fallback.
    QByteArray read;
    const uchar *bytes = file.map(0, size);
    if (!bytes) {
        read = file.readAll();
        if (file.error() != QFileDevice::NoError || read.size() != size) Fail("open", fileName, file.errorString());
        bytes = reinterpret_cast<const uchar *>(read.constData());
    }
    try {
        DecodePicture({bytes, static_cast<std::size_t>(size)}, into);
    } catch (const std::bad_alloc &) {
        Fail("open", fileName, QStringLiteral("there is not enough memory for the picture"));
    } catch (const Exception &error) {
        Fail("open", fileName, error.Message());
    }
}

void WritePictureFile(const AnsiString &fileName, const TBitmap &bitmap)
{
    if (bitmap.Empty()) Fail("save", fileName, QStringLiteral("there is no picture to save"));
    if (QFileInfo(fileName).isDir()) Fail("save", fileName, QStringLiteral("it is a folder, not a file"));
    QByteArray encoded;
    try {
        encoded = EncodePicture(bitmap, PictureFileFormatFor(fileName));
    } catch (const std::bad_alloc &) {
        Fail("save", fileName, QStringLiteral("there is not enough memory to encode the picture"));
    } catch (const Exception &error) {
        Fail("save", fileName, error.Message());
    }
    // The target is replaced only once every byte is on disk.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) Fail("save", fileName, file.errorString());
    if (file.write(encoded) != encoded.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        Fail("save", fileName, reason);
    }
    if (!file.commit()) Fail("save", fileName, file.errorString());
}

QStringList OpenPictureFilters()
{
    return {QStringLiteral("All pictures (*.bmp *.dib *.png *.jpg *.jpeg *.jpe *.gif *.pbm *.pgm *.ppm *.tif *.tiff *.webp *.ico)"),
            QStringLiteral("Bitmaps (*.bmp *.dib)"),
            QStringLiteral("PNG pictures (*.png)"),
            QStringLiteral("JPEG pictures (*.jpg *.jpeg *.jpe)"),
            QStringLiteral("GIF pictures (*.gif)"),
            QStringLiteral("Portable pixmaps (*.pbm *.pgm *.ppm)"),
            QStringLiteral("TIFF pictures (*.tif *.tiff)"),
            QStringLiteral("WebP pictures (*.webp)"),
            QStringLiteral("Icons (*.ico)"),
            QStringLiteral("All files (*)")};
}

QStringList SavePictureFilters()
{
    return {QStringLiteral("All pictures (*.bmp *.png *.jpg *.jpeg *.pbm *.pgm *.ppm *.tif *.tiff *.webp)"),
            QStringLiteral("Bitmaps (*.bmp)"),
            QStringLiteral("PNG pictures (*.png)"),
            QStringLiteral("JPEG pictures (*.jpg *.jpeg)"),
            QStringLiteral("Portable pixmaps (*.pbm *.pgm *.ppm)"),
            QStringLiteral("TIFF pictures (*.tif *.tiff)"),
            QStringLiteral("WebP pictures (*.webp)")};
}
