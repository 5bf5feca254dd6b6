// A TIFF's stored samples, of every layout the TIFF reader takes, turned
// into the bitmap's pixels a row piece at a time.
#pragma once

#include "platform/metadata/cmyk_conversion.h"
#include "platform/files/sample_depth.h"
#include "platform/pictures/bitmap.h"

#include <tiffio.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What the colour samples of a TIFF are.
enum class TTiffColours { Grey, Palette, Rgb, Cmyk };

class TTiffSamples {
public:
    // The layout of an open TIFF's first picture, or none where its
    // photometric, bit depth or sample format is not one read here (those
    // go through libtiff's RGBA conversion). The ICC profile turns CMYK
    // into sRGB where it is a CMYK one. Sets libtiff to give JPEG-coded
    // YCbCr as RGB.
    static std::optional<TTiffSamples> Of(TIFF *tiff, const QByteArray &profile);

    // The form of the decoded picture, and its palette (grey levels, the
    // file's colours, or for pf1bit its two).
    TPixelFormat Format() const { return format_; }
    const TPalette &Palette() const { return palette_; }
    // Whether samples lie in planes of their own (one pointer each) or
    // interleaved (one pointer).
    bool Planar() const { return planar_; }
    int Planes() const { return planar_ ? samplesPerPixel_ : 1; }
    // Bytes of `pixels` pixels of one plane's row (of every sample when
    // interleaved).
    std::uint64_t RowBytes(std::uint64_t pixels) const;

    // Turns `pixels` stored pixels, from each plane's row pointer, into
    // the bitmap's pixels from column x of `row`.
    void Convert(const std::uint8_t *const *planes, int pixels, std::uint8_t *row, int x) const;

private:
    TTiffSamples() = default;
    // The pixel's samples as values of 0 to max_, into `values` (samples a
    // pixel each).
    void Unpack(const std::uint8_t *const *planes, int pixels, std::uint16_t *values) const;

    TTiffColours colours_ = TTiffColours::Rgb;
    int bits_ = 8, sampleFormat_ = SAMPLEFORMAT_UINT, samplesPerPixel_ = 1, colourSamples_ = 1;
    bool planar_ = false, whiteIsZero_ = false;
    int alpha_ = -1; // the sample that is alpha, or none
    bool associated_ = false;
    std::uint32_t max_ = 255; // the largest value Unpack gives
    TPixelFormat format_ = pf24bit;
    TPalette palette_{};
    std::shared_ptr<const TSampleRounding> rounding_;
    std::shared_ptr<const TCmykConversion> cmyk_;
    mutable std::vector<std::uint16_t> values_, inks_;
    mutable std::vector<std::uint8_t> converted_;
};
