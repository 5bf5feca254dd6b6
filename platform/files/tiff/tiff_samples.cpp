// Turning TIFF samples of every layout into the bitmap's pixels.
#include "platform/files/tiff/tiff_samples.h"

#include "platform/files/channel_order.h"
#include "platform/files/tiff/tiff_support.h"

#include <algorithm>
#include <cstring>

namespace {

// A value of 0 to max at 8 bits, rounded.
std::uint8_t Level(std::uint32_t value, std::uint32_t max) { return static_cast<std::uint8_t>((std::uint64_t(std::min(value, max)) * 255 + max / 2) / max); }

} // namespace

std::optional<TTiffSamples> TTiffSamples::Of(TIFF *tiff, const QByteArray &profile)
{
    TTiffSamples s;
    const auto photometric = Field<std::uint16_t>(tiff, TIFFTAG_PHOTOMETRIC, 0xFFFF);
    const auto compression = Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    s.bits_ = Field<std::uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    s.sampleFormat_ = Field<std::uint16_t>(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    s.samplesPerPixel_ = Field<std::uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    s.planar_ = Field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE && s.samplesPerPixel_ > 1;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        s.colours_ = TTiffColours::Grey;
        s.colourSamples_ = 1;
        s.whiteIsZero_ = photometric == PHOTOMETRIC_MINISWHITE;
        break;
    case PHOTOMETRIC_PALETTE:
        s.colours_ = TTiffColours::Palette;
        s.colourSamples_ = 1;
        break;
    case PHOTOMETRIC_RGB: s.colourSamples_ = 3; break;
    case PHOTOMETRIC_SEPARATED:
        if (Field<std::uint16_t>(tiff, TIFFTAG_INKSET, INKSET_CMYK) != INKSET_CMYK) return std::nullopt;
        s.colours_ = TTiffColours::Cmyk;
        s.colourSamples_ = 4;
        break;
    case PHOTOMETRIC_YCBCR:
        // libjpeg turns JPEG-coded YCbCr into RGB itself; other YCbCr
        // goes through libtiff's RGBA conversion.
        if (compression != COMPRESSION_JPEG || s.planar_ || s.bits_ != 8 || !TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return std::nullopt;
        s.colourSamples_ = 3;
        break;
    default: return std::nullopt;
    }
    const bool integers = s.sampleFormat_ == SAMPLEFORMAT_UINT && s.bits_ >= 1 && (s.bits_ <= 16 || s.bits_ == 32);
    const bool floats = s.sampleFormat_ == SAMPLEFORMAT_IEEEFP && (s.bits_ == 32 || s.bits_ == 64);
    if ((!integers && !floats) || s.samplesPerPixel_ < s.colourSamples_ || (s.colours_ == TTiffColours::Palette && (s.bits_ > 8 || floats)))
        return std::nullopt;

    // The first sample past the colours is alpha, as Qt's reader and image
    // editors take it; premultiplied only where it says so.
    std::uint16_t extras = 0;
    std::uint16_t *kinds = nullptr;
    if (s.samplesPerPixel_ > s.colourSamples_) {
        s.alpha_ = s.colourSamples_;
        s.associated_ = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds) == 1 && extras > 0 && kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    s.max_ = integers && s.bits_ <= 16 ? (std::uint32_t(1) << s.bits_) - 1 : 65535;
    s.rounding_ = std::make_shared<TSampleRounding>(integers && s.bits_ <= 16 ? s.bits_ : 16);

    const bool oneBit = s.bits_ == 1 && s.alpha_ < 0 && (s.colours_ == TTiffColours::Grey || s.colours_ == TTiffColours::Palette);
    if (oneBit)
        s.format_ = pf1bit;
    else if (s.alpha_ >= 0)
        s.format_ = pf32bit;
    else
        s.format_ = s.colours_ == TTiffColours::Grey || s.colours_ == TTiffColours::Palette ? pf8bit : pf24bit;

    if (s.colours_ == TTiffColours::Grey) {
        s.palette_ = GreyLevels;
        if (oneBit) {
            s.palette_[0] = s.whiteIsZero_ ? clWhite : clBlack;
            s.palette_[1] = s.whiteIsZero_ ? clBlack : clWhite;
        }
    } else if (s.colours_ == TTiffColours::Palette) {
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) != 1) return std::nullopt;
        for (std::uint32_t i = 0; i <= s.max_; ++i) s.palette_[i] = RGB(Level(red[i], 65535), Level(green[i], 65535), Level(blue[i], 65535));
    } else if (s.colours_ == TTiffColours::Cmyk) {
        s.cmyk_ = TCmykConversion::From(profile);
    }
    return s;
}

std::uint64_t TTiffSamples::RowBytes(std::uint64_t pixels) const
{
    return (pixels * std::uint64_t(planar_ ? 1 : samplesPerPixel_) * std::uint64_t(bits_) + 7) / 8;
}

void TTiffSamples::Unpack(const std::uint8_t *const *planes, int pixels, std::uint16_t *values) const
{
    const std::size_t perPixel = std::size_t(samplesPerPixel_);
    const std::size_t count = std::size_t(pixels) * (planar_ ? 1 : perPixel);
    for (int p = 0; p < Planes(); ++p) {
        const std::uint8_t *in = planes[p];
        // Sample i of this plane lands at out[i * step].
        std::uint16_t *out = values + p;
        const std::size_t step = planar_ ? perPixel : 1;
        if (sampleFormat_ == SAMPLEFORMAT_IEEEFP) {
            for (std::size_t i = 0; i < count; ++i) {
                double v;
                if (bits_ == 32) {
                    float f;
                    std::memcpy(&f, in + 4 * i, 4);
                    v = f;
                } else {
                    std::memcpy(&v, in + 8 * i, 8);
                }
                // NaN reads as 0.
                out[i * step] = static_cast<std::uint16_t>(v >= 1.0 ? 65535 : v > 0.0 ? v * 65535.0 + 0.5 : 0);
            }
        } else if (bits_ == 8) {
            for (std::size_t i = 0; i < count; ++i) out[i * step] = in[i];
        } else if (bits_ == 16) {
            for (std::size_t i = 0; i < count; ++i) std::memcpy(&out[i * step], in + 2 * i, 2);
        } else if (bits_ == 32) {
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t v;
                std::memcpy(&v, in + 4 * i, 4);
                out[i * step] = static_cast<std::uint16_t>((std::uint64_t(v) * 65535 + 0x7FFFFFFF) / 0xFFFFFFFF);
            }
        } else {
            // Fields of bits_ bits, the first in the high bits of the first byte.
            std::uint64_t at = 0;
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t v = 0;
                for (int b = 0; b < bits_; ++b, ++at) v = v << 1 | ((in[at >> 3] >> (7 - (at & 7))) & 1);
                out[i * step] = static_cast<std::uint16_t>(v);
            }
        }
    }
}

void TTiffSamples::Convert(const std::uint8_t *const *planes, int pixels, std::uint8_t *row, int x) const
{
    const std::size_t n = std::size_t(pixels);
    // The common layouts straight from the samples.
    if (!planar_ && alpha_ < 0 && bits_ == 8 && sampleFormat_ == SAMPLEFORMAT_UINT && samplesPerPixel_ == colourSamples_) {
        if (colours_ == TTiffColours::Rgb) return SwapRedBlue24(planes[0], row + 3 * std::size_t(x), n);
        if (colours_ == TTiffColours::Palette || (colours_ == TTiffColours::Grey && !whiteIsZero_)) {
            std::memcpy(row + x, planes[0], n);
            return;
        }
    }
    const std::size_t perPixel = std::size_t(samplesPerPixel_);
    if (values_.size() < n * perPixel) values_.resize(n * perPixel);
    std::uint16_t *v = values_.data();
    Unpack(planes, pixels, v);
    const TSampleRounding &level = *rounding_;
    const std::uint32_t max = max_;
    // Colour samples of associated alpha taken back out of it.
    if (alpha_ >= 0 && associated_)
        for (std::size_t i = 0; i < n; ++i) {
            std::uint16_t *pixel = v + i * perPixel;
            const std::uint32_t a = pixel[alpha_];
            for (int c = 0; c < colourSamples_; ++c)
                pixel[c] = static_cast<std::uint16_t>(a ? std::min<std::uint32_t>(max, (std::uint32_t(pixel[c]) * max + a / 2) / a) : 0);
        }
    if (whiteIsZero_ && format_ != pf1bit)
        for (std::size_t i = 0; i < n; ++i) v[i * perPixel] = static_cast<std::uint16_t>(max - std::min<std::uint32_t>(v[i * perPixel], max));

    if (format_ == pf1bit) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t bit = std::size_t(x) + i;
            const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (bit & 7));
            // The stored bit is the index: the palette says what it shows.
            const bool set = v[i * perPixel] != 0;
            row[bit >> 3] = static_cast<std::uint8_t>(set ? row[bit >> 3] | mask : row[bit >> 3] & ~mask);
        }
        return;
    }
    if (format_ == pf8bit) {
        for (std::size_t i = 0; i < n; ++i)
            row[std::size_t(x) + i] = colours_ == TTiffColours::Palette ? static_cast<std::uint8_t>(v[i * perPixel]) : level(v[i * perPixel]);
        return;
    }
    const std::size_t pixelBytes = format_ == pf32bit ? 4 : 3;
    std::uint8_t *out = row + pixelBytes * std::size_t(x);
    if (colours_ == TTiffColours::Cmyk) {
        if (cmyk_) {
            // The inks at 16 bits, through the profile.
            if (inks_.size() < 4 * n) inks_.resize(4 * n);
            if (converted_.size() < 3 * n) converted_.resize(3 * n);
            for (std::size_t i = 0; i < n; ++i)
                for (int c = 0; c < 4; ++c) inks_[4 * i + std::size_t(c)] = static_cast<std::uint16_t>((std::uint64_t(v[i * perPixel + std::size_t(c)]) * 65535 + max / 2) / max);
            cmyk_->Convert(inks_.data(), converted_.data(), n);
            for (std::size_t i = 0; i < n; ++i) std::memcpy(out + pixelBytes * i, converted_.data() + 3 * i, 3);
        } else {
            // Each ink taken away from white: (1 - C)(1 - K) and so on.
            const std::uint64_t square = std::uint64_t(max) * max;
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint16_t *pixel = v + i * perPixel;
                const std::uint64_t white = max - std::min<std::uint32_t>(pixel[3], max);
                for (int c = 0; c < 3; ++c)
                    out[pixelBytes * i + std::size_t(2 - c)] =
                        static_cast<std::uint8_t>(((max - std::min<std::uint32_t>(pixel[c], max)) * white * 255 + square / 2) / square);
            }
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint16_t *pixel = v + i * perPixel;
            std::uint8_t *p = out + pixelBytes * i;
            if (colours_ == TTiffColours::Rgb) {
                p[0] = level(pixel[2]);
                p[1] = level(pixel[1]);
                p[2] = level(pixel[0]);
            } else if (colours_ == TTiffColours::Palette) {
                const TColor colour = palette_[std::min<std::uint16_t>(pixel[0], 255)];
                p[0] = static_cast<std::uint8_t>(GetBValue(colour));
                p[1] = static_cast<std::uint8_t>(GetGValue(colour));
                p[2] = static_cast<std::uint8_t>(GetRValue(colour));
            } else {
                p[0] = p[1] = p[2] = level(pixel[0]);
            }
        }
    }
    if (alpha_ >= 0)
        for (std::size_t i = 0; i < n; ++i) out[4 * i + 3] = level(v[i * perPixel + std::size_t(alpha_)]);
}
