// Our readers held to Qt's reading of the same file.
#include "support/qt_reference.h"

#include "platform/files/qt/qt_codec.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "support/comparisons.h"
#include "support/failures.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include <gtest/gtest.h>

void ExpectReadsAsQt(TDecoder decode, const QByteArray &file)
{
    const auto ours = DecodedBy(decode, file);
    const auto qt = UprightByQt(file);
    ASSERT_TRUE(ours && qt);
    EXPECT_EQ(ours->GetPixelFormat(), qt->GetPixelFormat());
    EXPECT_TRUE(SameBitmap(*ours, *qt));
}

void ExpectReadsAsQtCodec(TDecoder decode, const QByteArray &file)
{
    const auto ours = DecodedBy(decode, file), qt = DecodedBy(DecodeWithQt, file);
    ASSERT_TRUE(ours && qt);
    EXPECT_EQ(ours->GetPixelFormat(), qt->GetPixelFormat());
    EXPECT_TRUE(SameBitmap(*ours, *qt));
}

std::unique_ptr<TBitmap> UprightByQt(const QByteArray &file)
{
    QByteArray data = file;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) return nullptr;
    auto bitmap = std::make_unique<TBitmap>();
    BitmapFromQImage(image, *bitmap);
    return bitmap;
}

std::unique_ptr<TBitmap> DecodedWhereQtIsRefused(TDecoder decode, const QByteArray &file)
{
    EXPECT_NE(MessageOf([&] { TBitmap b; DecodeWithQt(Bytes(file), b); }).find("would take about"), std::string::npos);
    auto ours = DecodedBy(decode, file);
    EXPECT_TRUE(ours);
    return ours;
}

QByteArray WrittenByQt(const QImage &image, const char *format, int quality, TJpegScans scans, THuffmanTables tables)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(scans == TJpegScans::Progressive);
    writer.setOptimizedWrite(tables == THuffmanTables::MadeForThePicture);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes;
}
