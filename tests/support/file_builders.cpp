// PNG chunks and GIF image data, byte by byte.
#include "support/file_builders.h"

QByteArray BigEndian32(std::uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

std::uint32_t Crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

QByteArray PngChunk(const char *type, const QByteArray &data)
{
    const QByteArray typed = QByteArray(type) + data;
    return BigEndian32(static_cast<std::uint32_t>(data.size())) + typed + BigEndian32(Crc32(typed));
}

QByteArray GifLiteralImageData(const std::vector<int> &indices, int codeSize)
{
    const int clear = 1 << codeSize, width = codeSize + 1;
    // Each literal adds a table entry; the width grows when they reach 2^width.
    const std::size_t period = static_cast<std::size_t>((1 << width) - clear - 2);
    std::vector<int> codes{clear};
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i && i % period == 0) codes.push_back(clear);
        codes.push_back(indices[i]);
    }
    codes.push_back(clear + 1);
    QByteArray data;
    std::uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8) data += char(bits & 0xFF);
    }
    if (count) data += char(bits & 0xFF);
    QByteArray blocks(1, char(codeSize));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray chunk = data.mid(at, 255);
        blocks += char(chunk.size());
        blocks += chunk;
    }
    blocks += char(0);
    return blocks;
}
