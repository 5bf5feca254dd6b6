// What a WebP file carries besides its pixels: the chunks of its container read, and put in.
#include "platform/files/webp/webp_metadata.h"

#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/file_metadata.h"

#include <QtEndian>

#include <webp/mux.h>

#include <cstring>
#include <memory>

namespace {

bool Is(const std::uint8_t *fourcc, const char *name) { return std::memcmp(fourcc, name, 4) == 0; }

WebPData DataOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

struct TMuxDelete {
    void operator()(WebPMux *mux) const { WebPMuxDelete(mux); }
};

} // namespace

TPictureMetadata WebpMetadata(std::span<const std::uint8_t> file)
{
    TPictureMetadata found;
    bool profileSeen = false, exifSeen = false, xmpSeen = false;
    // "RIFF", the size, "WEBP", then chunks: a name, a size, the data, and
    // a pad byte after data of an odd size.
    for (std::size_t at = 12; file.size() >= at && file.size() - at >= 8;) {
        const std::uint8_t *name = file.data() + at;
        const std::uint32_t size = qFromLittleEndian<std::uint32_t>(name + 4);
        if (size > file.size() - at - 8) break;
        const std::span<const std::uint8_t> data = file.subspan(at + 8, size);
        at += 8 + std::size_t(size) + (size & 1);
        const auto copy = [&] { return QByteArray(reinterpret_cast<const char *>(data.data()), static_cast<qsizetype>(data.size())); };
        if (Is(name, "ICCP") && !profileSeen) {
            profileSeen = true;
            if (data.size() <= static_cast<std::size_t>(MaxProfileBytes)) found.colourProfile = copy();
        } else if (Is(name, "EXIF") && !exifSeen) {
            exifSeen = true;
            found.exif = ExifPayload(data);
        } else if (Is(name, "XMP ") && !xmpSeen) {
            xmpSeen = true;
            found.xmp = copy();
        }
    }
    return found;
}

QByteArray WebpWithMetadata(const QByteArray &encoded, const TPictureMetadata &saved)
{
    const bool profile = !saved.colourProfile.isEmpty() && PictureProfileSpace(saved.colourProfile) == TProfileSpace::Rgb;
    if (!profile && saved.exif.isEmpty() && saved.xmp.isEmpty()) return encoded;
    const auto failed = [] { return Exception(QStringLiteral("the picture's colour profile and camera data could not be put into the WebP file")); };
    // The pieces are read where they are, not copied, until the file is assembled.
    const WebPData picture = DataOf(encoded);
    const std::unique_ptr<WebPMux, TMuxDelete> mux(WebPMuxCreate(&picture, 0));
    if (!mux) throw failed();
    const auto put = [&](const char *name, const QByteArray &piece) {
        const WebPData data = DataOf(piece);
        if (!piece.isEmpty() && WebPMuxSetChunk(mux.get(), name, &data, 0) != WEBP_MUX_OK) throw failed();
    };
    if (profile) put("ICCP", saved.colourProfile);
    put("EXIF", saved.exif);
    put("XMP ", saved.xmp);
    WebPData assembled{};
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) throw failed();
    QByteArray file(reinterpret_cast<const char *>(assembled.bytes), static_cast<qsizetype>(assembled.size));
    WebPDataClear(&assembled);
    return file;
}
