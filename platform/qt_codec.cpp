// Placeholder until the Qt codec lands.
#include "qt_codec.h"

void DecodeWithQt(std::span<const std::uint8_t>, TBitmap &) { throw Exception(QStringLiteral("not built yet")); }
QByteArray EncodeWithQt(const TBitmap &, const char *) { throw Exception(QStringLiteral("not built yet")); }
void BitmapFromQImage(const QImage &, TBitmap &) {}
QImage QImageFromBitmap(const TBitmap &) { return {}; }
