// CMYK pictures' colours turned into sRGB through the picture's own CMYK
// profile, by Little CMS: how a reader shows the inks as its file means them.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

class TCmykConversion {
public:
    // Null where the profile is not one Little CMS turns CMYK from.
    static std::unique_ptr<TCmykConversion> From(const QByteArray &profile);
    ~TCmykConversion();
    TCmykConversion(const TCmykConversion &) = delete;
    TCmykConversion &operator=(const TCmykConversion &) = delete;

    // `pixels` of C, M, Y, K samples (0 no ink, 65535 full) into sRGB's
    // B, G, R bytes, perceptually.
    void Convert(const std::uint16_t *cmyk, std::uint8_t *bgr, std::size_t pixels) const;

private:
    explicit TCmykConversion(void *transform) : transform_(transform) {}
    void *transform_;
};
