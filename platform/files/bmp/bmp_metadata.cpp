// What a BMP file carries besides its pixels: its info header's resolution and colour space.
#include "platform/files/bmp/bmp_metadata.h"

#include "platform/files/bmp/bmp_format.h"
#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/described_profiles.h"

#include <array>
#include <optional>

using namespace bmp;

namespace {

// The chromaticity of an endpoint given as X, Y and Z in 2.30 fixed point.
std::optional<TChromaticity> Chromaticity(double x, double y, double z)
{
    const double sum = x + y + z;
    if (!(sum > 0)) return std::nullopt;
    return TChromaticity{x / sum, y / sum};
}

QByteArray CalibratedProfile(const std::uint8_t *header)
{
    double xyz[9];
    for (std::size_t i = 0; i < 9; ++i) xyz[i] = GetU32(header + EndpointsAt + 4 * i) / double(1 << 30);
    const auto red = Chromaticity(xyz[0], xyz[1], xyz[2]), green = Chromaticity(xyz[3], xyz[4], xyz[5]), blue = Chromaticity(xyz[6], xyz[7], xyz[8]);
    // The white is what the three endpoints make together.
    const auto white = Chromaticity(xyz[0] + xyz[3] + xyz[6], xyz[1] + xyz[4] + xyz[7], xyz[2] + xyz[5] + xyz[8]);
    if (!red || !green || !blue || !white) return {};
    std::array<double, 3> gammas;
    for (std::size_t i = 0; i < 3; ++i) gammas[i] = GetU32(header + GammasAt + 4 * i) / 65536.0;
    return DescribedRgbProfile({*white, *red, *green, *blue}, gammas);
}

} // namespace

std::optional<TBmpProfilePlace> BmpProfilePlace(std::span<const std::uint8_t> headers)
{
    if (headers.size() < FileHeaderBytes + V5HeaderBytes) return std::nullopt;
    const std::uint8_t *header = headers.data() + FileHeaderBytes;
    if (GetU32(header) < V5HeaderBytes || GetU32(header + ColourSpaceAt) != EmbeddedColourSpace) return std::nullopt;
    // Where the profile lies is counted from the info header's start.
    const TBmpProfilePlace place{FileHeaderBytes + std::uint64_t(GetU32(header + ProfileDataAt)), GetU32(header + ProfileSizeAt)};
    if (place.size == 0 || place.size > static_cast<std::uint64_t>(MaxProfileBytes)) return std::nullopt;
    return place;
}

TPictureMetadata BmpMetadata(std::span<const std::uint8_t> file)
{
    const std::optional<TBmpProfilePlace> place = BmpProfilePlace(file);
    const bool held = place && place->at <= file.size() && place->size <= file.size() - place->at;
    return BmpMetadata(file, held ? file.subspan(place->at, place->size) : std::span<const std::uint8_t>());
}

TPictureMetadata BmpMetadata(std::span<const std::uint8_t> headers, std::span<const std::uint8_t> profile)
{
    TPictureMetadata found;
    if (headers.size() < FileHeaderBytes + 4) return found;
    const std::uint8_t *header = headers.data() + FileHeaderBytes;
    const std::uint32_t headerSize = GetU32(header);
    if (headerSize < InfoHeaderBytes || headerSize == Os2HeaderBytes || headers.size() - FileHeaderBytes < headerSize) return found;
    const std::int32_t horizontal = GetI32(header + XPixelsPerMetreAt), vertical = GetI32(header + YPixelsPerMetreAt);
    if (horizontal > 0 && vertical > 0) found.resolution = TResolution{double(horizontal), double(vertical), TResolutionUnit::Metre};
    if (headerSize < V4HeaderBytes) return found;
    const std::uint32_t space = GetU32(header + ColourSpaceAt);
    if (space == CalibratedColourSpace)
        found.colourProfile = CalibratedProfile(header);
    else if (space == EmbeddedColourSpace && !profile.empty())
        found.colourProfile = QByteArray(reinterpret_cast<const char *>(profile.data()), static_cast<qsizetype>(profile.size()));
    return found;
}
