// Fuzz target: any bytes through the picture loading path; a picture that
// comes out goes through every pixel operation, every pixel format, the
// zoomed view and a save to memory, and must keep what each promises. The
// same bytes read as a file straight into a picture, where their format's
// reader reads files so, give the same picture, or are refused, or left
// to be read whole.
#include "fuzz_support.h"

#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/opening_limits.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/picture_files.h"
#include "platform/files/pnm/pnm_codec.h"
#include "platform/files/qt/qt_codec.h"
#include "support/decoding.h"
#include "support/fuzz_processing.h"
#include "support/memory_files.h"

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
    TBitmap straight;
    std::optional<TRowsMissing> readStraight;
    bool straightRefused = false;
    try {
        TMemoryFileSource file({data, data + size});
        if (size > 0) readStraight = ReadPictureStraight(file, straight);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        straightRefused = true;
    }
    TBitmap picture;
    TRowsMissing missing;
    try {
        missing = DecodePicture(bytes, picture);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        // Read straight, a file held whole no longer counts: it may open
        // where the whole file's reading would not fit.
        return 0;
    }
    Require(!straightRefused, "a file read whole is not refused straight");
    if (readStraight)
        Require(SameBitmap(straight, picture) && readStraight->missing == missing.missing,
                "a file read straight gives the pixels and missing rows of the whole file");
    Require(!picture.Empty(), "a picture that opens has pixels");
    if (Pixels(picture.GetWidth(), picture.GetHeight()) <= MaxProcessedPixels) ProcessOpenedPicture(picture, Require);
    return 0;
}
