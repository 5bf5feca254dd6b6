// Reading HEIF and AVIF pictures through libheif into the bitmap's rows.
#include "platform/files/heif/heif_codec.h"

#include "platform/base/parallel_pieces.h"
#include "platform/files/channel_order.h"
#include "platform/files/heif/heif_boxes.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/reader_metadata.h"
#include "platform/files/sample_depth.h"
#include "platform/metadata/cicp_profiles.h"
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/file_metadata.h"
#include "platform/base/work_progress.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The brands of the file-type box: the major brand, then the compatible ones.
std::vector<std::uint32_t> Brands(std::span<const std::uint8_t> bytes)
{
    const auto word = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 | std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    };
    if (bytes.size() < 16 || std::memcmp(bytes.data() + 4, "ftyp", 4) != 0) return {};
    const std::size_t size = std::min<std::size_t>(word(0), bytes.size());
    std::vector<std::uint32_t> brands{word(8)};
    for (std::size_t at = 16; at + 4 <= size; at += 4) brands.push_back(word(at));
    return brands;
}

constexpr std::uint32_t Brand(const char (&name)[5])
{
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 | std::uint32_t(std::uint8_t(name[2])) << 8 |
           std::uint8_t(name[3]);
}

bool HasBrand(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint32_t> wanted)
{
    const std::vector<std::uint32_t> brands = Brands(bytes);
    return std::any_of(brands.begin(), brands.end(), [&](std::uint32_t b) { return std::find(wanted.begin(), wanted.end(), b) != wanted.end(); });
}

struct ContextFree {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};
struct NclxFree {
    void operator()(heif_color_profile_nclx *nclx) const { heif_nclx_color_profile_free(nclx); }
};

// libheif's failures in our words.
[[noreturn]] void Failed(const heif_error &error, const QString &formatName)
{
    if (error.code == heif_error_Memory_allocation_error && error.subcode == heif_suberror_Security_limit_exceeded)
        throw Exception(QStringLiteral("its structure goes beyond the limits the %1 library keeps against hostile files").arg(formatName));
    if (error.code == heif_error_Memory_allocation_error) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    if (error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype ||
        (error.code == heif_error_Decoder_plugin_error && error.subcode == heif_suberror_Unsupported_codec))
        throw Exception(QStringLiteral("the %1 picture is coded in a way this program cannot decode (%2)").arg(formatName, QString::fromUtf8(error.message)));
    throw Exception(DamagedData());
}

void Check(const heif_error &error, const QString &formatName)
{
    if (error.code != heif_error_Ok) Failed(error, formatName);
}

// What the file carries besides its pixels: the ICC profile, else the nclx
// description as a profile; the first EXIF block; the first XMP packet.
TPictureMetadata MetadataOf(const heif_image_handle *handle)
{
    TPictureMetadata metadata;
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_rICC || profile == heif_color_profile_type_prof) {
        const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size > 0 && size <= std::size_t(MaxProfileBytes)) {
            QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
            if (heif_image_handle_get_raw_color_profile(handle, bytes.data()).code == heif_error_Ok) metadata.colourProfile = bytes;
        }
    } else if (profile == heif_color_profile_type_nclx) {
        heif_color_profile_nclx *nclx = nullptr;
        const heif_error read = heif_image_handle_get_nclx_color_profile(handle, &nclx);
        // libheif hands over the description it made even when it reports
        // code points it does not know.
        const std::unique_ptr<heif_color_profile_nclx, NclxFree> owner(nclx);
        if (read.code == heif_error_Ok && nclx)
            metadata.colourProfile = ProfileForCodePoints(nclx->color_primaries, nclx->transfer_characteristics);
    }
    const int blocks = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(blocks, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), blocks);
    for (const heif_item_id id : ids) {
        const bool exif = std::strcmp(heif_image_handle_get_metadata_type(handle, id), "Exif") == 0;
        const bool xmp = std::strcmp(heif_image_handle_get_metadata_type(handle, id), "mime") == 0 &&
                         std::strcmp(heif_image_handle_get_metadata_content_type(handle, id), "application/rdf+xml") == 0;
        if ((!exif || !metadata.exif.isEmpty()) && (!xmp || !metadata.xmp.isEmpty())) continue;
        std::vector<std::uint8_t> data(heif_image_handle_get_metadata_size(handle, id));
        if (data.empty() || heif_image_handle_get_metadata(handle, id, data.data()).code != heif_error_Ok) continue;
        if (xmp) {
            metadata.xmp = QByteArray(reinterpret_cast<const char *>(data.data()), static_cast<qsizetype>(data.size()));
            continue;
        }
        // The EXIF block starts with the offset of its TIFF header from
        // the end of the offset.
        if (data.size() < 4) continue;
        const std::uint64_t offset = std::uint64_t(data[0]) << 24 | std::uint64_t(data[1]) << 16 | std::uint64_t(data[2]) << 8 | data[3];
        if (offset <= data.size() - 4) metadata.exif = ExifPayload(std::span(data).subspan(4 + static_cast<std::size_t>(offset)));
    }
    DropUnusablePieces(metadata);
    return metadata;
}

// Samples a pixel of each plane libheif decodes into, before its colour
// conversion: 4:2:0 holds one and a half, 4:4:4 three (assumed where the
// file does not say).
double PlaneSamples(THeifChroma chroma)
{
    switch (chroma) {
    case THeifChroma::Grey: return 1;
    case THeifChroma::Quarter: return 1.5;
    case THeifChroma::Half: return 2;
    default: return 3;
    }
}

// libheif's decoders besides the images they give: a tile's decoder for
// each of its threads. Measured peak with Debian 12's libheif, libde265
// and dav1d: about 40 MiB on a 6000 x 4000 grid of 512 x 512 tiles.
constexpr std::uint64_t DecoderWorkingBytes = 64 * MiBBytes;

// The progress libheif gives between the tiles of a grid. A cancel meanwhile
// is remembered, not thrown through libheif, and honoured once it returns.
struct TTileProgress {
    int tiles = 0;
    bool cancelled = false;

    static void Start(heif_progress_step step, int max, void *self)
    {
        if (step == heif_progress_step_total) static_cast<TTileProgress *>(self)->tiles = max;
    }
    static void Advance(heif_progress_step step, int done, void *self)
    {
        auto *progress = static_cast<TTileProgress *>(self);
        if (step != heif_progress_step_total || progress->tiles <= 0) return;
        try {
            ReportProgress(std::uint64_t(std::max(done, 0)), std::uint64_t(progress->tiles) + 1);
        } catch (const ECancelled &) {
            progress->cancelled = true;
        }
    }
    static void End(heif_progress_step, void *) {}
};

} // namespace

bool LooksLikeHeif(std::span<const std::uint8_t> bytes)
{
    return HasBrand(bytes, {Brand("heic"), Brand("heix"), Brand("heim"), Brand("heis"), Brand("hevc"), Brand("hevx"), Brand("mif1"), Brand("msf1")});
}

bool LooksLikeAvif(std::span<const std::uint8_t> bytes) { return HasBrand(bytes, {Brand("avif"), Brand("avis")}); }

TRowsMissing DecodeHeif(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    TDecodedPicture decodedPicture(into, LooksLikeAvif(bytes) ? TPictureFileFormat::Avif : TPictureFileFormat::Heif);
    const QString &formatName = decodedPicture.FormatName();
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    // libheif reads the boxes in place, without a copy of the file.
    Check(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr), formatName);
    heif_image_handle *primary = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &primary), formatName);
    const std::unique_ptr<heif_image_handle, HandleRelease> handle(primary);

    const int width = heif_image_handle_get_width(primary), height = heif_image_handle_get_height(primary);
    const bool alpha = heif_image_handle_has_alpha_channel(primary) != 0;
    const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(primary), heif_image_handle_get_chroma_bits_per_pixel(primary));
    const THeifOutline outline = OutlineOfHeif(bytes);
    const bool grey = outline.chroma == THeifChroma::Grey && !alpha;
    const bool deep = bits > 8;
    const TPixelFormat format = alpha ? pf32bit : grey ? pf8bit : pf24bit;
    if (width <= 0 || height <= 0) throw Exception(DamagedData());
    // A size the bitmap cannot hold is refused before the memory is counted.
    CheckPictureFits(width, height, format);

    TPictureMetadata metadata = MetadataOf(primary);
    // libheif has turned the picture by its properties; the EXIF
    // orientation counts only where it has none.
    const TOrientation orientation = outline.transformed ? TOrientation::Upright : StatedOrientation(metadata);

    // libheif decodes into planes of the coded samples (and turns them by
    // its properties into planes as large again), converts those into an
    // RGB image of its own, which is copied here into ours.
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height), sampleBytes = deep ? 2 : 1;
    const auto planes = static_cast<std::uint64_t>(double(pixels) * (PlaneSamples(outline.chroma) + (alpha ? 1 : 0))) * sampleBytes;
    const std::uint64_t rgb = pixels * (alpha ? 4 : 3) * sampleBytes;
    const std::uint64_t pictureBytes = PictureBytes(width, height, format);
    const std::uint64_t peak = std::max({2 * planes, planes + rgb, rgb + pictureBytes, pictureBytes + TurningBytes(orientation, pictureBytes)});
    CheckOpeningMemory(width, height, formatName, bytes.size() + peak + DecoderWorkingBytes, pictureBytes);

    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    TTileProgress progress;
    options->start_progress = TTileProgress::Start;
    options->on_progress = TTileProgress::Advance;
    options->end_progress = TTileProgress::End;
    options->progress_user_data = &progress;
    const heif_chroma chroma = alpha ? (deep ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RGBA)
                                     : (deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB);
    ReportProgress(0, 0);
    heif_image *decodedImage = nullptr;
    const heif_error decoded = heif_decode_image(primary, &decodedImage, heif_colorspace_RGB, chroma, options.get());
    std::unique_ptr<heif_image, ImageRelease> image(decodedImage);
    // The picture of a decoding cancelled meanwhile is not kept.
    if (progress.cancelled) throw ECancelled();
    CheckCancelled();
    Check(decoded, formatName);
    int stride = 0;
    const std::uint8_t *plane = heif_image_get_plane_readonly(decodedImage, heif_channel_interleaved, &stride);
    if (!plane || stride <= 0 || heif_image_get_width(decodedImage, heif_channel_interleaved) != width ||
        heif_image_get_height(decodedImage, heif_channel_interleaved) != height)
        throw Exception(DamagedData());

    TBitmap &bitmap = decodedPicture.StartCounted(width, height, format);
    if (grey) bitmap.SetPalette(GreyLevels);
    const std::size_t samples = std::size_t(width) * (alpha ? 4 : 3);
    const std::optional<TSampleRounding> rounding =
        deep ? std::optional<TSampleRounding>(heif_image_get_bits_per_pixel_range(decodedImage, heif_channel_interleaved)) : std::nullopt;
    // libheif's image into ours on every core, a row at a time: deep
    // samples through a row of each thread's own.
    std::vector<std::vector<std::uint8_t>> narrowed(deep ? WorkerThreads() : 0, std::vector<std::uint8_t>(samples));
    ForEachBand(height, std::size_t(stride), [&](const TBand &band, unsigned worker) {
        for (int y = band.first; y < band.end; ++y) {
            const std::uint8_t *in = plane + std::size_t(stride) * std::size_t(y);
            if (rounding) {
                rounding->Row(in, narrowed[worker].data(), samples);
                in = narrowed[worker].data();
            }
            std::uint8_t *out = bitmap.Row(y);
            if (grey)
                for (int x = 0; x < width; ++x) out[x] = in[3 * std::size_t(x)];
            else if (alpha)
                SwapRedBlue32(in, out, std::size_t(width));
            else
                SwapRedBlue24(in, out, std::size_t(width));
        }
    });
    ReportProgress(std::uint64_t(height), std::uint64_t(height));
    // libheif's image goes before the picture is turned.
    image.reset();
    KeepFoundMetadata(bitmap, std::move(metadata), orientation);
    return decodedPicture.HandOver(WholePicture(bitmap));
}
