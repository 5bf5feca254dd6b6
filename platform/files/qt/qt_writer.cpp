// Encoding with Qt's image plugins, with each format's options from the table.
#include "platform/files/qt/qt_codec.h"

#include "platform/files/qt/qt_image_bridge.h"

#include <QBuffer>
#include <QImageWriter>

namespace {

bool BlackAndWhite(const TBitmap &bitmap)
{
    const TColor a = bitmap.GetPalette()[0], b = bitmap.GetPalette()[1];
    return (a == clBlack && b == clWhite) || (a == clWhite && b == clBlack);
}

// The image handed to Qt's writer: our rows wherever the writer keeps them
// exactly, else a form it does keep.
QImage ImageToWrite(const TBitmap &bitmap, TPictureFileFormat format)
{
    const bool tiff = format == TPictureFileFormat::Tiff;
    switch (bitmap.GetPixelFormat()) {
    case pf1bit:
        // Qt's TIFF writer keeps only black and white for 1-bit pictures.
        return tiff && !BlackAndWhite(bitmap) ? Indexed8CopyOf(bitmap) : QImageFromBitmap(bitmap);
    case pf15bit:
    case pf16bit: return WidenedCopyOf(bitmap);
    case pf32bit: {
        if (!AnyTranslucent(bitmap))
            return QImageOverRows(bitmap, QImage::Format_RGB32);
        const QImage image = QImageFromBitmap(bitmap);
        if (!tiff) return image;
        // Qt writes 8-bit alpha to TIFF premultiplied, losing colours; 16 bits
        // a channel it writes unassociated, which reads back exactly.
        QImage wide = image.convertToFormat(QImage::Format_RGBA64);
        if (wide.isNull()) throw Exception(NotEnoughMemoryTo(TMemoryUse::ConvertingThePicture));
        return wide;
    }
    default: return QImageFromBitmap(bitmap);
    }
}

} // namespace

QByteArray EncodeWithQt(const TBitmap &bitmap, const TPictureFileFormatInfo &format)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const QString name = QLatin1String(format.name);
    if (format.maxSide && (bitmap.GetWidth() > format.maxSide || bitmap.GetHeight() > format.maxSide))
        throw Exception(QStringLiteral("the picture is %1 x %2 pixels; %3 pictures can be at most %4 pixels wide and high")
                            .arg(bitmap.GetWidth()).arg(bitmap.GetHeight()).arg(name).arg(format.maxSide));
    const QImage image = ImageToWrite(bitmap, format.format);

    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format.qtName);
    if (format.quality >= 0) writer.setQuality(format.quality);
    if (format.compression >= 0) writer.setCompression(format.compression);
    if (!writer.write(image)) {
        if (writer.error() == QImageWriter::UnsupportedFormatError)
            throw Exception(QStringLiteral("this program cannot write %1 pictures: the Qt image plugin for them is not installed").arg(name));
        if (MemoryRunsShort(image.size(), QImage::Format_ARGB32)) throw Exception(NotEnoughMemoryTo(TMemoryUse::EncodingThePicture));
        throw Exception(QStringLiteral("the picture could not be encoded as %1").arg(name));
    }
    return encoded;
}
