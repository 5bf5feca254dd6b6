// The walk over a JPEG stream's segments.
#include "platform/files/jpeg_segments.h"

#include <cstring>

namespace {

bool StandsAlone(std::uint8_t marker)
{
    return marker == std::uint8_t(TJpegMarker::Tem) || marker == std::uint8_t(TJpegMarker::Soi) ||
           (marker >= std::uint8_t(TJpegMarker::Rst0) && marker <= std::uint8_t(TJpegMarker::Rst7));
}

} // namespace

std::optional<TJpegSegment> TJpegSegments::Next()
{
    const std::size_t n = bytes_.size();
    const std::uint8_t *data = bytes_.data();
    for (;;) {
        if (stray_ == TStrayBytes::Skip) {
            const void *ff = at_ < n ? std::memchr(data + at_, 0xFF, n - at_) : nullptr;
            if (!ff) return std::nullopt;
            at_ = static_cast<std::size_t>(static_cast<const std::uint8_t *>(ff) - data);
        } else if (at_ >= n || data[at_] != 0xFF) {
            return std::nullopt;
        }
        const std::size_t at = at_;
        std::size_t i = at_;
        while (i < n && data[i] == 0xFF) ++i;
        if (i >= n) return std::nullopt;
        const std::uint8_t marker = data[i++];
        at_ = i;
        if (marker == std::uint8_t(TJpegMarker::Eoi)) return TJpegSegment{TJpegMarker::Eoi, at, i, {}};
        if (StandsAlone(marker)) continue;
        // 0xFF 0x00 is a stuffed byte of entropy-coded data, not a marker.
        if (marker == 0x00) {
            if (stray_ == TStrayBytes::Skip) continue;
            return std::nullopt;
        }
        if (n - i < 2) return std::nullopt;
        const std::size_t length = (std::size_t(data[i]) << 8) | data[i + 1];
        if (length < 2 || length > n - i) return std::nullopt;
        at_ = i + length;
        return TJpegSegment{static_cast<TJpegMarker>(marker), at, at_, bytes_.subspan(i + 2, length - 2)};
    }
}

std::size_t TJpegSegments::SkipEntropyCodedData()
{
    const std::size_t n = bytes_.size();
    const std::uint8_t *data = bytes_.data();
    const std::size_t from = at_;
    for (;;) {
        const void *ff = at_ < n ? std::memchr(data + at_, 0xFF, n - at_) : nullptr;
        if (!ff || static_cast<const std::uint8_t *>(ff) + 1 >= data + n) {
            at_ = n;
            return n - from;
        }
        at_ = static_cast<std::size_t>(static_cast<const std::uint8_t *>(ff) - data);
        const std::uint8_t next = data[at_ + 1];
        if (next == 0x00 || (next >= std::uint8_t(TJpegMarker::Rst0) && next <= std::uint8_t(TJpegMarker::Rst7))) {
            at_ += 2;
            continue;
        }
        if (next == 0xFF) {
            ++at_;
            continue;
        }
        return at_ - from;
    }
}
