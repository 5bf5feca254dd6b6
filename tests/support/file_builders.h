// Picture files put together byte by byte, shared by the tests and the fuzz
// seeds: PNG chunks with their CRC, and GIF image data.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

QByteArray BigEndian32(std::uint32_t v);
// The CRC-32 of PNG chunks (and zip): polynomial 0xEDB88320, reflected.
std::uint32_t Crc32(const QByteArray &bytes);
// A PNG chunk: its length, type, data and the CRC of type and data.
QByteArray PngChunk(const char *type, const QByteArray &data);

// A GIF image's data from its LZW code size on: the indices as literal
// codes of codeSize + 1 bits, with a clear code often enough to keep that
// width, in sub-blocks of up to 255 bytes, then the block terminator.
QByteArray GifLiteralImageData(const std::vector<int> &indices, int codeSize);
