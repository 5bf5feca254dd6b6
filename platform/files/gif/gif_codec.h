// GIF pictures through giflib, their first image decoded straight into the
// bitmap's rows.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start as a GIF does ("GIF87a" or "GIF89a").
bool LooksLikeGif(std::span<const std::uint8_t> bytes);

// Decodes a GIF's first image (of an animation, its first frame) on its
// logical screen, as Qt's reader shows it: a screen of an absurd size
// (over ten times the frame and 16384) is taken as the frame's; where the
// frame does not cover the screen, the screen shows its transparent colour,
// else its background colour (with a global colour table), else black; an
// index past the colour table shows white (transparent where the file has
// a transparent colour). Into the smallest form that holds it: pf8bit with
// the file's colour table when every pixel is one of its opaque colours
// (the grey palette, each pixel its level, when the table is all grey;
// else each pixel the first index of its colour), pf32bit with alpha when
// a pixel is transparent, else pf24bit. The indices take a byte a pixel
// while the image decodes, a row at a time; an interlaced image's rows are
// held from the top once every pass reached them. Data that ends early
// gives the rows held from the top (opening_limits.h); damaged data is
// refused. A TPictureReader (picture_codecs.h).
TRowsMissing DecodeGif(std::span<const std::uint8_t> bytes, TBitmap &into);
