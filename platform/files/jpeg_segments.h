// The markers of a JPEG stream, and the one walk over its segments that
// our JPEG codec and the checks of the JPEGs Qt reads both make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The byte after 0xFF that names a marker.
enum class TJpegMarker : std::uint8_t {
    Tem = 0x01,
    Sof0 = 0xC0,
    Rst0 = 0xD0,
    Rst7 = 0xD7,
    Soi = 0xD8,
    Eoi = 0xD9,
    Sos = 0xDA,
    Dri = 0xDD,
    App0 = 0xE0,
    App1 = 0xE1,
    App2 = 0xE2,
    Com = 0xFE,
};

// Restart marker n of the eight, 0 to 7 in turn.
constexpr TJpegMarker RestartMarker(std::size_t n) { return static_cast<TJpegMarker>(0xD0 + n % 8); }

// A marker and, but for EOI, the segment its length gives.
struct TJpegSegment {
    TJpegMarker marker;
    // Where the marker's 0xFF lies, and where the segment ends.
    std::size_t at, end;
    // What follows the segment's 2 length bytes.
    std::span<const std::uint8_t> payload;
};

// What a walk does with bytes where a marker should be: libjpeg skips them,
// with a warning; a reader of segments may stop there.
enum class TStrayBytes { End, Skip };

// The segments of a JPEG stream after its SOI, in order. Fill bytes (0xFF
// runs) before a marker are skipped, and so are the markers that stand
// alone (TEM, RST0 to RST7, a repeated SOI).
class TJpegSegments {
public:
    TJpegSegments(std::span<const std::uint8_t> stream, TStrayBytes stray) : bytes_(stream), stray_(stray) {}

    // The next segment, or EOI; none where the bytes end, a length does not
    // fit them, or (with TStrayBytes::End) another byte stands where a
    // marker should.
    std::optional<TJpegSegment> Next();

    // After an SOS segment: moves past the entropy-coded data that follows
    // it (stuffed bytes and restart markers included) to the next marker,
    // and gives that data's bytes: all that is left where none comes.
    std::size_t SkipEntropyCodedData();

private:
    std::span<const std::uint8_t> bytes_;
    TStrayBytes stray_;
    std::size_t at_ = 2;
};
