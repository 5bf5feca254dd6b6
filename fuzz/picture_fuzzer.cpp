// Fuzz target: any bytes through the picture loading path; a picture that
// comes out goes through every pixel operation, every pixel format, the
// zoomed view and a save to memory, and must keep what each promises.
#include "fuzz_support.h"

#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/opening_limits.h"
#include "platform/files/picture_files.h"
#include "platform/files/pnm/pnm_codec.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/pictures/picture_view.h"
#include "support/decoding.h"

#include <QBuffer>
#include <QImageReader>

namespace {

// Qt's readers fill in every pixel of the size a header claims: claims
// beyond this are decoded only when the size check refuses them unread.
// Our BMP and PBM/PGM/PPM readers' work is bounded by the bytes at hand,
// whatever they claim.
constexpr long long MaxDecodedPixels = 1LL << 22;
// Operations, conversions and saves run on pictures up to this size, so
// that each input takes a fraction of a second under the sanitizers.
constexpr long long MaxProcessedPixels = 1LL << 18;

long long Pixels(int width, int height) { return static_cast<long long>(width) * height; }

bool WorthDecoding(std::span<const std::uint8_t> bytes)
{
    if (LooksLikeBmp(bytes) || LooksLikePnm(bytes)) return true;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || Pixels(size.width(), size.height()) <= MaxDecodedPixels) return true;
    try {
        CheckPictureFits(size.width(), size.height(), pf1bit);
    } catch (const Exception &) {
        return true;
    }
    return false;
}

void Process(const TBitmap &picture)
{
    TBitmap work;
    work.Assign(&picture);
    Complement(work);
    Complement(work);
    Require(SameBitmap(work, picture), "complement twice gives the original");
    MirrorLeftRight(work);
    MirrorLeftRight(work);
    Require(SameBitmap(work, picture), "mirror twice gives the original");
    EdgeDetection(work);
    Require(work.GetWidth() == picture.GetWidth() && work.GetPixelFormat() == picture.GetPixelFormat(),
            "edge detection keeps size and format");

    work.Assign(&picture);
    CapturePixels(work);
    Require(work.GetPixelFormat() == pf8bit, "capture converts to pf8bit");

    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        work.Assign(&picture);
        work.SetPixelFormat(format);
        Require(work.GetPixelFormat() == format && work.GetWidth() == picture.GetWidth() && work.GetHeight() == picture.GetHeight(),
                "conversion gives the format asked for at the same size");
        if (format == pf24bit || format == pf32bit) Require(SameColours(work, picture), "conversion to 24 or 32 bits keeps every colour");
    }

    // The view at 25%, 75%, 100% and 200%, a corner and the middle exposed.
    const int width = picture.GetWidth(), height = picture.GetHeight();
    for (const auto &[num, den] : {std::pair{1, 4}, std::pair{4, 5}, std::pair{1, 1}, std::pair{2, 1}}) {
        const QSize shown(std::max(1, width * num / den), std::max(1, height * num / den));
        for (const QRect exposed : {QRect(0, 0, 64, 48), QRect(shown.width() / 2 - 7, shown.height() / 2 - 5, 50, 30)}) {
            const QImage view = RenderPictureView(picture, shown, exposed);
            const QRect area = exposed & QRect(QPoint(0, 0), shown);
            Require(view.size() == area.size(), "the view renders the exposed part of the picture");
            if (num != den) continue;
            // A pixel that is not opaque is drawn over the checkerboard.
            const bool alpha = picture.GetPixelFormat() == pf32bit && picture.GetAlphaChannel() == TAlphaChannel::Used;
            for (int y = 0; y < area.height(); ++y)
                for (int x = 0; x < area.width(); ++x) {
                    const int px = area.left() + x, py = area.top() + y;
                    if (alpha && picture.Row(py)[4 * std::size_t(px) + 3] != 255) continue;
                    const TColor colour = picture.GetPixel(px, py);
                    Require(view.pixel(x, y) == qRgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)),
                            "the view at the picture's own size shows every opaque colour exactly");
                }
        }
    }

    TBitmap back;
    DecodePicture(Bytes(EncodePicture(picture, TPictureFileFormat::Bmp)), back);
    Require(SameColours(back, picture) && SameAlpha(back, picture), "BMP keeps every pixel");
    DecodePicture(Bytes(EncodePicture(picture, TPictureFileFormat::Png)), back);
    Require(SameColours(back, picture) && SameAlpha(back, picture), "PNG keeps every pixel");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    StartQtWithoutWindows();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    if (!WorthDecoding(bytes)) return 0;
    TBitmap picture;
    try {
        DecodePicture(bytes, picture);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        return 0;
    }
    Require(!picture.Empty(), "a picture that opens has pixels");
    if (Pixels(picture.GetWidth(), picture.GetHeight()) <= MaxProcessedPixels) Process(picture);
    return 0;
}
