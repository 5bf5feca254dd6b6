// A PNG chunk written: its length, type, data and checksum. The writer
// and the chunks of metadata both put them.
#pragma once

#include <QByteArray>

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>

inline void PutPngChunk(QByteArray &out, const char *type, const void *data, std::size_t size)
{
    const auto put32 = [&](std::uint32_t v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        out.append(bytes, 4);
    };
    put32(static_cast<std::uint32_t>(size));
    const qsizetype typeAt = out.size();
    out.append(type, 4);
    if (size) out.append(static_cast<const char *>(data), static_cast<qsizetype>(size));
    put32(libdeflate_crc32(0, out.constData() + typeAt, size + 4));
}
inline void PutPngChunk(QByteArray &out, const char *type, const QByteArray &data)
{
    PutPngChunk(out, type, data.constData(), static_cast<std::size_t>(data.size()));
}
