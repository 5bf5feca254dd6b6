// Fuzz target: any bytes through our BMP reader alone; a picture that comes
// out must save as BMP and read back byte for byte.
#include "fuzz_support.h"

#include "platform/files/bmp/bmp_codec.h"
#include "support/decoding.h"

namespace {

constexpr long long MaxSavedPixels = 1LL << 22;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TBitmap picture;
    try {
        DecodeBmp({data, size}, picture);
    } catch (const Exception &error) {
        Require(!error.Message().isEmpty(), "a refusal gives its reason");
        return 0;
    }
    Require(!picture.Empty() && picture.GetPixelFormat() != pf4bit, "a BMP that opens has pixels in one of the reader's forms");
    if (static_cast<long long>(picture.GetWidth()) * picture.GetHeight() > MaxSavedPixels) return 0;
    TBitmap back;
    DecodeBmp(Bytes(EncodeBmp(picture)), back);
    Require(SameBitmap(back, picture), "a BMP read, written and read again keeps every pixel and palette entry");
    return 0;
}
