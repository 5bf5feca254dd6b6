// Reading still WebP pictures, lossy or lossless, with alpha or without,
// through libwebp's incremental decoder, straight into the bitmap's rows.
#include "platform/files/webp/webp_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/reader_metadata.h"
#include "platform/files/webp/webp_metadata.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct DecoderDelete {
    void operator()(WebPIDecoder *decoder) const { WebPIDelete(decoder); }
};

// The file is given to the decoder a piece at a time, with a report between.
constexpr std::size_t Piece = std::size_t(1) << 20;

} // namespace

bool LooksLikeWebp(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WEBP", 4) == 0;
}

TRowsMissing DecodeWebp(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    TDecodedPicture decoded(into, TPictureFileFormat::Webp);
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK || features.has_animation || features.width <= 0 ||
        features.height <= 0) {
        const TRowsMissing missing = DecodeWithQt(bytes, decoded.Picture());
        KeepFoundMetadata(decoded.Picture(), WebpMetadata(bytes));
        return decoded.HandOver(missing);
    }
    const int width = features.width, height = features.height;
    const TPixelFormat format = features.has_alpha ? pf32bit : pf24bit;
    // A lossless picture is decoded whole into libwebp's own 32-bit pixels
    // before it reaches ours; a lossy one a few rows at a time (its alpha
    // plane whole, a byte a pixel).
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    const std::uint64_t decoderBytes = features.format == 2 ? 4 * pixels : features.has_alpha ? pixels : 0;
    // Once the decoder is gone, a picture whose rows and columns swap takes
    // a second one while it is turned.
    TPictureMetadata found = WebpMetadata(bytes);
    DropUnusablePieces(found);
    const TOrientation orientation = StatedOrientation(found);
    TBitmap &bitmap = decoded.Start(width, height, format,
                                    bytes.size() + std::max(decoderBytes, TurningBytes(orientation, PictureBytes(width, height, format))));
    std::unique_ptr<WebPIDecoder, DecoderDelete> decoder(WebPINewRGB(features.has_alpha ? MODE_BGRA : MODE_BGR, bitmap.Row(0),
                                                                           bitmap.ImageBytes(), static_cast<int>(bitmap.BytesPerRow())));
    if (!decoder) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (std::size_t given = 0; status == VP8_STATUS_SUSPENDED && given < bytes.size();) {
        given = std::min(bytes.size(), given + Piece);
        // The decoder reads the file where it is, without a copy.
        status = WebPIUpdate(decoder.get(), bytes.data(), given);
        ReportProgress(given, bytes.size());
    }
    // Still waiting for data once it has the whole file: the data ends
    // early, after the rows the decoder gave.
    if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED) throw Exception(DamagedData());
    int held = height;
    if (status == VP8_STATUS_SUSPENDED && !WebPIDecGetRGB(decoder.get(), &held, nullptr, nullptr, nullptr)) held = 0;
    const TRowsMissing missing = RowsHeld(bitmap, held);
    decoder.reset();
    KeepFoundMetadata(bitmap, std::move(found), orientation);
    return decoded.HandOver(missing);
}
