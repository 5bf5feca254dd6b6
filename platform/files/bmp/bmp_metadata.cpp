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

TPictureMetadata BmpMetadata(std::span<const std::uint8_t> file)
{
    TPictureMetadata found;
    if (file.size() < FileHeaderBytes + 4) return found;
    const std::uint8_t *header = file.data() + FileHeaderBytes;
    const std::uint32_t headerSize = GetU32(header);
    if (headerSize < InfoHeaderBytes || headerSize == Os2HeaderBytes || file.size() - FileHeaderBytes < headerSize) return found;
    const std::int32_t horizontal = GetI32(header + XPixelsPerMetreAt), vertical = GetI32(header + YPixelsPerMetreAt);
    if (horizontal > 0 && vertical > 0) found.resolution = TResolution{double(horizontal), double(vertical), TResolutionUnit::Metre};
    if (headerSize < V4HeaderBytes) return found;
    const std::uint32_t space = GetU32(header + ColourSpaceAt);
    if (space == CalibratedColourSpace) {
        found.colourProfile = CalibratedProfile(header);
    } else if (space == EmbeddedColourSpace && headerSize >= V5HeaderBytes) {
        // Where the profile lies is counted from the info header's start.
        const std::uint64_t at = FileHeaderBytes + std::uint64_t(GetU32(header + ProfileDataAt)), size = GetU32(header + ProfileSizeAt);
        if (size > 0 && size <= static_cast<std::uint64_t>(MaxProfileBytes) && at <= file.size() && size <= file.size() - at)
            found.colourProfile = QByteArray(reinterpret_cast<const char *>(file.data() + at), static_cast<qsizetype>(size));
    }
    return found;
}
