// Placeholder until the BMP writer lands.
#include "bmp_codec.h"

QByteArray EncodeBmp(const TBitmap &) { throw Exception(QStringLiteral("BMP writing is not built yet")); }
