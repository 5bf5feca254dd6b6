// Decoding test files held in memory.
#include "support/decoding.h"

std::span<const std::uint8_t> Bytes(const QByteArray &data)
{
    return {reinterpret_cast<const std::uint8_t *>(data.constData()), static_cast<std::size_t>(data.size())};
}

std::unique_ptr<TBitmap> DecodedBy(TDecoder decode, const QByteArray &file)
{
    auto bitmap = std::make_unique<TBitmap>();
    decode(Bytes(file), *bitmap);
    return bitmap;
}
