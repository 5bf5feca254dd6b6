// Fuzz target: any bytes through our BMP reader alone; a picture that comes
// out must save as BMP and read back byte for byte. The same bytes read as
// a file straight into the rows give the same picture, or the same refusal,
// or are left to be read whole.
#include "fuzz_support.h"

#include "platform/files/bmp/bmp_codec.h"
#include "support/decoding.h"
#include "support/memory_files.h"

#include <optional>

namespace {

constexpr long long MaxSavedPixels = 1LL << 22;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TBitmap straight;
    std::optional<TRowsMissing> readStraight;
    bool straightRefused = false;
    try {
        TMemoryFileSource file({data, data + size});
        readStraight = ReadBmpStraight(file, straight);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        straightRefused = true;
    }
    TBitmap picture;
    try {
        DecodeBmp({data, size}, picture);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        Require(!readStraight, "a file refused whole is not read straight");
        return 0;
    }
    Require(!straightRefused, "a file read whole is not refused straight");
    if (readStraight) Require(SameBitmap(straight, picture), "a file read straight gives the pixels of the whole file");
    Require(!picture.Empty() && picture.GetPixelFormat() != pf4bit, "a BMP that opens has pixels in one of the reader's forms");
    if (static_cast<long long>(picture.GetWidth()) * picture.GetHeight() > MaxSavedPixels) return 0;
    TBitmap back;
    DecodeBmp(Bytes(EncodeBmp(picture)), back);
    Require(SameBitmap(back, picture), "a BMP read, written and read again keeps every pixel and palette entry");
    return 0;
}
