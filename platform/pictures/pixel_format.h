// TPixelFormat: how the pixels of a bitmap are stored (see bitmap.h).
#pragma once

enum TPixelFormat {
    pfDevice,   // the screen's format; bitmaps store it as pf32bit
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom    // no bitmap ever has it; asking for it is an error
};

// Bits one pixel takes in a row; 0 for pfDevice and pfCustom.
constexpr int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
    }
}

constexpr bool HasPalette(TPixelFormat format)
{
    return format == pf1bit || format == pf4bit || format == pf8bit;
}
