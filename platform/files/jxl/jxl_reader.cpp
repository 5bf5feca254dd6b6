// Reading JPEG XL pictures through libjxl's decoder, its pixels written
// into the bitmap's rows.
#include "platform/files/jxl/jxl_codec.h"

#include "platform/base/parallel_pieces.h"
#include "platform/files/channel_order.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/reader_metadata.h"
#include "platform/files/sample_depth.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"
#include "platform/base/work_progress.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct DecoderDestroy {
    void operator()(JxlDecoder *decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDestroy {
    void operator()(void *runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

// The file is given to the decoder a piece at a time, with a report between.
constexpr std::size_t Piece = std::size_t(1) << 20;

// What the decoder holds besides our picture, counted by measure with
// libjxl 0.7 (peak resident memory on pictures of 2000 to 8000 pixels a
// side): a lossy picture a few rows of groups of float samples, about 4
// bytes a pixel at most; a lossless one its whole picture as 32-bit
// integer channels, and as many again while its transforms run.
constexpr std::uint64_t LossyBytesPerPixel = 4;
constexpr std::uint64_t LosslessBytesPerChannel = 8;
constexpr std::uint64_t DecoderWorkingBytes = 48 * MiBBytes;

// The box being read into a growing buffer, up to the largest piece kept.
struct TBoxReading {
    QByteArray *into = nullptr;
    std::vector<std::uint8_t> bytes;
    std::size_t limit = 0;
    bool tooLarge = false;
};

// How libjxl's pixels reach the bitmap: one, three or four channels,
// whose rows of 8-bit samples are the bitmap's but for the order of red
// and blue, are written into its rows as the picture's buffer (libjxl
// rounds deeper samples to 8 bits as we would); grey with alpha, which
// the bitmap holds as four channels, comes through a callback.
enum class TJxlOutput { Rows, Callback };

// Where libjxl's threads deliver rows through the callback: each piece
// converted into the bitmap's pixels, and counted in its row.
struct TDelivery {
    TBitmap *bitmap = nullptr;
    int channels = 0; // as libjxl gives them: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    bool floats = false;
    TJxlOutput output = TJxlOutput::Callback;
    std::unique_ptr<std::atomic<std::uint32_t>[]> delivered;

    static void Deliver(void *self, std::size_t x, std::size_t y, std::size_t count, const void *pixels)
    {
        auto *d = static_cast<TDelivery *>(self);
        const int width = d->bitmap->GetWidth(), height = d->bitmap->GetHeight();
        if (y >= std::size_t(height) || x >= std::size_t(width) || count > std::size_t(width) - x) return;
        std::uint8_t *out = d->bitmap->Row(static_cast<int>(y));
        const auto *bytes = static_cast<const std::uint8_t *>(pixels);
        const auto *samples = static_cast<const float *>(pixels);
        const int channels = d->channels;
        const auto sample = [&](std::size_t i, int c) -> std::uint8_t {
            const std::size_t at = i * std::size_t(channels) + std::size_t(c);
            return d->floats ? RoundedSample(samples[at]) : bytes[at];
        };
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t px = x + i;
            switch (channels) {
            case 1: out[px] = sample(i, 0); break;
            case 2: {
                const std::uint8_t grey = sample(i, 0);
                std::uint8_t *p = out + 4 * px;
                p[0] = p[1] = p[2] = grey;
                p[3] = sample(i, 1);
                break;
            }
            default: {
                std::uint8_t *p = out + std::size_t(channels) * px;
                p[0] = sample(i, 2);
                p[1] = sample(i, 1);
                p[2] = sample(i, 0);
                if (channels == 4) p[3] = sample(i, 3);
            }
            }
        }
        d->delivered[y].fetch_add(static_cast<std::uint32_t>(count), std::memory_order_relaxed);
    }

    // The rows from the top whose every pixel came.
    int RowsHeld() const
    {
        const int width = bitmap->GetWidth(), height = bitmap->GetHeight();
        int y = 0;
        while (y < height && delivered[static_cast<std::size_t>(y)].load(std::memory_order_relaxed) >= std::uint32_t(width)) ++y;
        return y;
    }
    std::uint64_t RowsDone() const
    {
        std::uint64_t rows = 0;
        for (int y = 0; y < bitmap->GetHeight(); ++y) rows += delivered[static_cast<std::size_t>(y)].load(std::memory_order_relaxed) >= std::uint32_t(bitmap->GetWidth());
        return rows;
    }
};

// Whether the pixels come in sRGB, which the carrier means by no profile.
bool DecodedInSrgb(const JxlDecoder *decoder)
{
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) != JXL_DEC_SUCCESS) return false;
    return encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.white_point == JXL_WHITE_POINT_D65 &&
           encoding.primaries == JXL_PRIMARIES_SRGB && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

QByteArray ProfileOf(const JxlDecoder *decoder)
{
    std::size_t size = 0;
    if (DecodedInSrgb(decoder) || JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
        size == 0 || size > std::size_t(8) << 20)
        return {};
    QByteArray profile(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, reinterpret_cast<std::uint8_t *>(profile.data()), size) !=
        JXL_DEC_SUCCESS)
        return {};
    return profile;
}

// Ends the box being read: what the decoder wrote into the buffer is kept,
// unless it outgrew the largest piece kept.
void FinishBox(JxlDecoder *decoder, TBoxReading &box)
{
    if (!box.into) return;
    const std::size_t unwritten = JxlDecoderReleaseBoxBuffer(decoder);
    if (!box.tooLarge) {
        const std::size_t written = box.bytes.size() - unwritten;
        box.into->append(reinterpret_cast<const char *>(box.bytes.data()), static_cast<qsizetype>(written));
    } else {
        box.into->clear();
    }
    box = {};
}

// The EXIF box starts with the offset of its TIFF header from the end of the offset.
QByteArray ExifOfBox(const QByteArray &box)
{
    if (box.size() < 4) return {};
    const auto *data = reinterpret_cast<const std::uint8_t *>(box.constData());
    const std::uint64_t offset = std::uint64_t(data[0]) << 24 | std::uint64_t(data[1]) << 16 | std::uint64_t(data[2]) << 8 | data[3];
    if (offset > std::uint64_t(box.size()) - 4) return {};
    return ExifPayload(std::span(data, static_cast<std::size_t>(box.size())).subspan(4 + static_cast<std::size_t>(offset)));
}

} // namespace

bool LooksLikeJxl(std::span<const std::uint8_t> bytes)
{
    return JxlSignatureCheck(bytes.data(), bytes.size()) == JXL_SIG_CODESTREAM || JxlSignatureCheck(bytes.data(), bytes.size()) == JXL_SIG_CONTAINER;
}

TRowsMissing DecodeJxl(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const std::unique_ptr<JxlDecoder, DecoderDestroy> owner(JxlDecoderCreate(nullptr));
    const std::unique_ptr<void, RunnerDestroy> runner(JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
    if (!owner || !runner) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    JxlDecoder *decoder = owner.get();
    if (JxlDecoderSetParallelRunner(decoder, JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS ||
        JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE | JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
        JxlDecoderSetDecompressBoxes(decoder, JXL_TRUE) != JXL_DEC_SUCCESS || JxlDecoderSetUnpremultiplyAlpha(decoder, JXL_TRUE) != JXL_DEC_SUCCESS)
        throw Exception(DamagedData());

    TDecodedPicture decoded(into, TPictureFileFormat::Jxl);
    TBitmap &bitmap = decoded.Picture();
    TDelivery delivery;
    TPictureMetadata metadata;
    TBoxReading box;
    JxlBasicInfo info{};
    bool haveInfo = false, pictureDone = false;
    std::size_t given = std::min(bytes.size(), Piece);
    // The input is never closed: once the decoder waits for more than the
    // file holds, the data ended, whole or early.
    JxlDecoderSetInput(decoder, bytes.data(), given);
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_ERROR) {
            if (pictureDone) break; // damage after the picture spoils none of it
            throw Exception(DamagedData());
        }
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            if (given == bytes.size()) break;
            const std::size_t from = given - JxlDecoderReleaseInput(decoder);
            given = std::min(bytes.size(), given + Piece);
            // The decoder reads the file where it is, without a copy.
            JxlDecoderSetInput(decoder, bytes.data() + from, given - from);
            ReportProgress(given, bytes.size());
            continue;
        }
        if (status == JXL_DEC_SUCCESS) break;
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS) throw Exception(DamagedData());
            haveInfo = true;
            if (info.xsize == 0 || info.ysize == 0 || info.xsize > INT32_MAX || info.ysize > INT32_MAX) throw Exception(DamagedData());
            const int width = static_cast<int>(info.xsize), height = static_cast<int>(info.ysize);
            const bool alpha = info.alpha_bits > 0, grey = info.num_color_channels == 1;
            const TPixelFormat format = alpha ? pf32bit : grey ? pf8bit : pf24bit;
            const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
            const std::uint64_t channels = std::uint64_t(info.num_color_channels) + info.num_extra_channels;
            const std::uint64_t decoderBytes = info.uses_original_profile ? LosslessBytesPerChannel * channels * pixels : LossyBytesPerPixel * pixels;
            decoded.Start(width, height, format, bytes.size() + decoderBytes + 4 * std::uint64_t(height) + DecoderWorkingBytes);
            if (grey && !alpha) bitmap.SetPalette(GreyLevels);
            delivery.bitmap = &bitmap;
            delivery.channels = static_cast<int>(info.num_color_channels) + (alpha ? 1 : 0);
            delivery.floats = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0;
            delivery.output = delivery.channels != 2 ? TJxlOutput::Rows : TJxlOutput::Callback;
            if (delivery.output == TJxlOutput::Callback) delivery.delivered.reset(new std::atomic<std::uint32_t>[static_cast<std::size_t>(height)]());
            continue;
        }
        if (status == JXL_DEC_COLOR_ENCODING) {
            metadata.colourProfile = ProfileOf(decoder);
            continue;
        }
        if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            // Only the first frame is kept: of an animation the others are left.
            if (!haveInfo || pictureDone) break;
            if (delivery.output == TJxlOutput::Rows) {
                // Rows padded to 4 bytes, as the bitmap's are.
                const JxlPixelFormat format{static_cast<std::uint32_t>(delivery.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
                std::size_t size = 0;
                if (JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS || size != bitmap.ImageBytes() ||
                    JxlDecoderSetImageOutBuffer(decoder, &format, bitmap.Row(0), size) != JXL_DEC_SUCCESS)
                    throw Exception(DamagedData());
                continue;
            }
            const JxlPixelFormat format{static_cast<std::uint32_t>(delivery.channels), delivery.floats ? JXL_TYPE_FLOAT : JXL_TYPE_UINT8,
                                        JXL_NATIVE_ENDIAN, 0};
            if (JxlDecoderSetImageOutCallback(decoder, &format, TDelivery::Deliver, &delivery) != JXL_DEC_SUCCESS) throw Exception(DamagedData());
            continue;
        }
        if (status == JXL_DEC_FULL_IMAGE) {
            pictureDone = true;
            if (info.have_animation) break;
            continue;
        }
        if (status == JXL_DEC_BOX || status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            if (status == JXL_DEC_BOX) {
                FinishBox(decoder, box);
                JxlBoxType type{};
                if (JxlDecoderGetBoxType(decoder, type, JXL_TRUE) != JXL_DEC_SUCCESS) continue;
                const bool exif = std::memcmp(type, "Exif", 4) == 0, xmp = std::memcmp(type, "xml ", 4) == 0;
                QByteArray *piece = exif && metadata.exif.isEmpty() ? &metadata.exif : xmp && metadata.xmp.isEmpty() ? &metadata.xmp : nullptr;
                if (!piece) continue;
                box.into = piece;
                box.limit = std::size_t(exif ? MaxExifBytes + 4 : MaxXmpBytes);
                box.bytes.resize(std::min<std::size_t>(box.limit, 64 << 10));
                JxlDecoderSetBoxBuffer(decoder, box.bytes.data(), box.bytes.size());
                continue;
            }
            // The box outgrew its buffer: a larger one, or none once it
            // passes the largest piece kept, and the rest is skipped.
            if (!box.into) continue;
            const std::size_t written = box.bytes.size() - JxlDecoderReleaseBoxBuffer(decoder);
            if (box.bytes.size() >= box.limit) {
                box.tooLarge = true;
                continue;
            }
            box.bytes.resize(std::min(box.limit, 2 * box.bytes.size()));
            JxlDecoderSetBoxBuffer(decoder, box.bytes.data() + written, box.bytes.size() - written);
            continue;
        }
    }
    FinishBox(decoder, box);
    if (!haveInfo) throw Exception(DamagedData());
    metadata.exif = ExifOfBox(metadata.exif);
    // Rows written as the buffer count once the frame is whole.
    const int held = pictureDone ? bitmap.GetHeight() : delivery.output == TJxlOutput::Rows ? 0 : delivery.RowsHeld();
    const TRowsMissing missing = RowsHeld(bitmap, held, bitmap.GetHeight());
    if (delivery.output == TJxlOutput::Rows && delivery.channels >= 3) {
        // Red and blue into the bitmap's order, on every core. libjxl
        // writes the pixels' bytes alone: the rows' padding stays zero.
        const std::size_t width = std::size_t(bitmap.GetWidth());
        const bool alpha = delivery.channels == 4;
        ForEachBand(held, bitmap.BytesPerRow(), [&](const TBand &band, unsigned) {
            for (int y = band.first; y < band.end; ++y)
                alpha ? SwapRedBlue32(bitmap.Row(y), bitmap.Row(y), width) : SwapRedBlue24(bitmap.Row(y), bitmap.Row(y), width);
        });
    }
    // libjxl turned the picture as its codestream says.
    KeepFoundMetadata(bitmap, std::move(metadata), TOrientation::Upright);
    return decoded.HandOver(missing);
}
