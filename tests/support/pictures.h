// Test pictures made in the tests, and comparisons of bitmaps.
#pragma once

#include "platform/pictures/bitmap.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/failures.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// The seven formats a bitmap's pixels take, for tests that try every one.
inline constexpr TPixelFormat AllPixelFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

// What a decoder says of a file when it decodes into a picture that holds
// one already (3 x 2 random bytes), and whether that picture is left as it
// was, as a refused file must leave it.
struct TDecodedOver {
    std::string message;
    bool pictureKept;
};
TDecodedOver DecodedOverAPicture(TDecoder decode, const QByteArray &file);

// A bitmap of the given size and format whose palette, for palette
// formats, is the grey ramp (index i is grey i, or spread over 2 or 16).
std::unique_ptr<TBitmap> MakeBitmap(int width, int height, TPixelFormat format);

// An 8-bit grey picture whose byte at (x, y) is (x * 7 + y * 13) % 256.
std::unique_ptr<TBitmap> GreyRamp(int width, int height);

// Widths that find faults at the end of a row: 4 and 12 give 24-bit rows
// without padding, whose last pixel ends the picture.
inline constexpr int AwkwardWidths[] = {1, 2, 3, 4, 5, 7, 12, 13, 31, 33, 65, 127};

// Fills every pixel byte (not padding) from a seeded generator.
void FillRandomBytes(TBitmap &bitmap, std::uint32_t seed);

// A picture of random pixel bytes from seed (FillRandomBytes); in a palette
// format its palette is the grey ramp, or random colours from the same seed.
enum class TNoisePalette { GreyRamp, Random };
std::unique_ptr<TBitmap> Noise(int width, int height, TPixelFormat format, std::uint32_t seed,
                               TNoisePalette palette = TNoisePalette::GreyRamp);
// A side x side 24-bit picture of random bytes: a file of it takes about
// three bytes a pixel in any format.
inline std::unique_ptr<TBitmap> Noise(int side, std::uint32_t seed) { return Noise(side, side, pf24bit, seed); }

// A picture of smooth colours, (x * 5, y * 3, x ^ y) as RGB makes them.
std::unique_ptr<TBitmap> Pattern(int width, int height, TPixelFormat format = pf24bit);

// Fills pixel (x, y) with colour(x, y) through SetPixel.
void FillColours(TBitmap &bitmap, const std::function<TColor(int, int)> &colour);

// A one-row pf15bit or pf16bit picture whose channels are fixed 5- and
// 6-bit values, and the colours those read as, fixed independently of the
// code: 5 bits 1 -> 8, 16 -> 132, 31 -> 255; 6 bits 1 -> 4, 32 -> 130,
// 63 -> 255.
struct TWideningProbe {
    std::unique_ptr<TBitmap> picture;
    std::vector<TColor> colours;
};
TWideningProbe WideningProbe(TPixelFormat format);

// A carrier with every kind of piece, each different from the others'
// and from an empty one: for tests that what a file carried travels with
// the picture. The byte pieces stand for real ones; no library reads them.
TPictureMetadata EveryKindOfMetadata();
// Which pieces a carrier holds, and their sizes, for failure messages.
void PrintTo(const TPictureMetadata &metadata, std::ostream *out);

// Where the shared test pictures are; empty when absent.
std::optional<QString> CorporaDir();

// Skips the current test, with a message, when the shared pictures are absent.
#define SKIP_WITHOUT_CORPORA(dir)                                                   \
    const std::optional<QString> dir##_found = CorporaDir();                        \
    if (!dir##_found) GTEST_SKIP() << "shared test pictures not found beside the repository"; \
    const QString dir = *dir##_found
