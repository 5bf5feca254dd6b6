// Placeholder until the BMP codec lands.
#include "bmp_codec.h"

bool LooksLikeBmp(std::span<const std::uint8_t> bytes) { return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M'; }
void DecodeBmp(std::span<const std::uint8_t>, TBitmap &) { throw Exception(QStringLiteral("BMP reading is not built yet")); }
QByteArray EncodeBmp(const TBitmap &) { throw Exception(QStringLiteral("BMP writing is not built yet")); }
