// Colour profiles through Little CMS: which ones a picture can use, and
// the transforms that turn its colours into a screen's.
#pragma once

#include "platform/pictures/colour.h"
#include "platform/pictures/pixel_packing.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Profiles above this size are not used: those made for pictures, fine
// tables and all, take a few MiB at most.
constexpr qsizetype MaxProfileBytes = qsizetype(8) << 20;

enum class TProfileSpace { Rgb, Grey };

// Profiles up to this size have every table checked (PictureProfileSpace):
// those made of a matrix and curves, which most pictures carry, take a
// few KiB. A larger one's tables of megabytes take Little CMS tens of
// milliseconds to read, more than opening a photograph may cost for its
// profile: its structure is checked, and its tables when the view first
// uses them (a profile refused then is shown as stored).
constexpr qsizetype FullyCheckedProfileBytes = qsizetype(64) << 10;

// The colour space of a profile a picture can carry: RGB or grey, one
// Little CMS opens, with the tables a transform from it needs (and, up to
// FullyCheckedProfileBytes, from which it makes one into sRGB). Absent for
// any other: another space (CMYK, Lab), a device link, an abstract or
// named-colour profile, one it refuses, or one above MaxProfileBytes.
std::optional<TProfileSpace> PictureProfileSpace(const QByteArray &profile);

// Colours turned from a picture's profile into a screen's, perceptually
// (colorimetrically where the profile has no perceptual table). A grey
// profile turns each channel by its grey: greys exactly, other colours
// (which such a picture holds only after an operation) as near as it can.
class TColourTransform {
public:
    virtual ~TColourTransform() = default;
    // In place, over pixels of QImage's RGB32 form (0xffRRGGBB); the top
    // byte stays as it is. Safe on several threads at once.
    virtual void Convert(std::uint32_t *pixels, std::size_t count) const = 0;
    // A palette's entries (TColor, 0x00BBGGRR), converted likewise.
    TPalette Converted(const TPalette &palette) const;
};

namespace colour_transform {
// The ways a transform from a picture's profile into a screen's is made:
// Little CMS's own, and the same arithmetic written out, which replaces
// it between two profiles made of a matrix and curves alone (null for
// any other pair). Empty profiles are sRGB. For tests that compare them.
enum class TWay { LittleCms, MatrixAndCurves };
std::unique_ptr<TColourTransform> MadeBy(TWay way, const QByteArray &picture, const QByteArray &screen);
} // namespace colour_transform

// The transforms from pictures' profiles into one screen's, each made once
// for the pair and kept for the next repaint (the last few pictures').
class TScreenColours {
public:
    // The screen's profile; empty, or one Little CMS cannot turn colours
    // into, means sRGB.
    explicit TScreenColours(const QByteArray &screenProfile = {});
    ~TScreenColours();
    TScreenColours(const TScreenColours &) = delete;
    TScreenColours &operator=(const TScreenColours &) = delete;

    // The profile used for the screen: empty for sRGB.
    const QByteArray &ScreenProfile() const { return screen_; }

    // The transform for a picture carrying this profile (empty: the
    // picture is sRGB). Null where its colours need no change (an sRGB
    // picture on an sRGB screen) or its profile is refused: the picture
    // is then shown as stored.
    const TColourTransform *For(const QByteArray &pictureProfile);

private:
    struct TKept {
        QByteArray profile;
        std::unique_ptr<TColourTransform> transform;
    };
    QByteArray screen_;
    std::vector<TKept> kept_;
};
