// Picture files put together byte by byte, shared by the tests and the fuzz
// seeds: BMP files field by field and rows in the fax standard's Huffman
// code; PNG chunks with their CRC and PNG files of every colour type, depth
// and interlacing; GIF image data; JPEG files claiming another size, and
// the bytes of their coded data; TIFF files of uncompressed strips.
#pragma once

#include "platform/files/bmp/fax_huffman.h"

#include <QByteArray>
#include <QRgb>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A BMP file put together field by field, so that any field can lie.
struct TBmpRecipe {
    std::uint32_t headerSize = 40;
    std::int32_t width = 4, height = 2;
    std::uint32_t planes = 1, bits = 8, compression = 0, colours = 0;
    std::vector<std::uint32_t> masks = {};    // inside headers of 52 bytes and more, else after the header
    std::vector<std::uint32_t> palette = {0x000000, 0xFFFFFF};  // 0x00RRGGBB
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(8, 1);
    std::size_t gap = 0;                 // bytes of 0xEE between the palette and the pixels
    std::int64_t pixelsAt = -1;          // -1: just after the palette and the gap
    std::uint32_t fileSize = 0;
};
std::vector<std::uint8_t> BmpFile(const TBmpRecipe &recipe);

// Bits given as text ("0111 1000": spaces ignored), packed the first bit
// highest; the last byte is filled with 0 bits.
std::vector<std::uint8_t> PackedBits(std::string_view text);

// Rows of runs (white first, then alternating; a row starting black starts
// with a white run of 0) in the fax standard's one-dimensional Huffman
// code: make-up codes, largest first, then a terminating code per run.
enum class TFaxRowStart { AfterLastRow, OnAByte, AfterEndOfLine };
std::vector<std::uint8_t> FaxCoded(const std::vector<std::vector<int>> &rows, TFaxRowStart start);
// The code of one run as text, first bit first ("no code" where none).
std::string FaxCodeText(fax::TInk ink, int run);
// The runs of a row of 1-bit pixels packed 8 to a byte, bit 0 white.
std::vector<int> FaxRuns(const std::uint8_t *row, int width);

QByteArray BigEndian32(std::uint32_t v);
// The CRC-32 of PNG chunks (and zip): polynomial 0xEDB88320, reflected.
std::uint32_t Crc32(const QByteArray &bytes);
// A PNG chunk: its length, type, data and the CRC of type and data.
QByteArray PngChunk(const char *type, const QByteArray &data);

// The channels of a PNG colour type (0 grey, 2 RGB, 3 palette, 4 grey and
// alpha, 6 RGBA).
int PngChannels(int colourType);
// A PNG file made here, independently of the code under test: samples
// packed as the format says, rows with every filter type in turn (plain
// filters), Adam7 passes when interlaced.
struct PngRecipe {
    int width = 0, height = 0, depth = 8, colourType = 2;
    bool interlaced = false;
    QByteArray plte, trns;
    // The sample of channel c at (x, y), within the depth's range.
    std::function<unsigned(int x, int y, int c)> sample;
};

QByteArray MakePng(const PngRecipe &recipe);

// A PNG whose header claims width x height in the given bit depth, colour
// type and interlacing, holding the rows given (each led by its filter
// byte), compressed: with fewer rows than it claims, a file that lies about
// its size.
enum class TInterlacing { None, Adam7 };
QByteArray PngClaiming(std::uint32_t width, std::uint32_t height, int depth = 8, int colourType = 2,
                       const QByteArray &rows = QByteArray(1, '\0'), TInterlacing interlacing = TInterlacing::None);

// A TIFF put together by hand, little-endian: 8-bit grey in uncompressed
// strips of rowsPerStrip rows, each strip's bytes as given one after the
// other, with the byte count given for it (its own size where none is),
// then the directory, so that bytes past a strip are the next strip's or
// the directory's.
struct TTiffRecipe {
    std::uint32_t width = 4, height = 2, rowsPerStrip = 2;
    std::vector<QByteArray> strips;
    std::vector<std::uint32_t> counts = {};
};
QByteArray HandMadeTiff(const TTiffRecipe &recipe);

// The JPEG with the height and width of its frame header (baseline,
// extended or progressive, Huffman or arithmetic coding) replaced: a file
// that claims another size.
QByteArray JpegClaiming(QByteArray jpeg, int width, int height);

// The bytes of a JPEG's entropy-coded data, counted from its markers: after
// each start of scan, up to the next marker that is neither a stuffed 0xFF
// nor a restart marker, or the end of the file.
qsizetype JpegEntropyBytes(const QByteArray &jpeg);

// A GIF whose screen claims screenWidth x screenHeight, with a black and
// white colour table and one frame at (left, top) of width x height, whose
// data gives one white pixel.
QByteArray GifClaiming(int screenWidth, int screenHeight, int left = 0, int top = 0, int width = 1, int height = 1);

// A GIF image's data from its LZW code size on: the indices as literal
// codes of codeSize + 1 bits, with a clear code often enough to keep that
// width, in sub-blocks of up to 255 bytes, then the block terminator.
QByteArray GifLiteralImageData(const std::vector<int> &indices, int codeSize);

// A GIF of one image (and, with `second`, a second image after it, of the
// same place), its indices given row by row from the top; an interlaced
// one stores them in its passes' order.
struct TGifRecipe {
    int screenWidth = 8, screenHeight = 6;
    std::vector<QRgb> globalTable = {};
    int background = 0;
    int transparent = -1; // no graphic control extension when below 0
    int left = 0, top = 0, width = 8, height = 6;
    std::vector<QRgb> localTable = {};
    bool interlaced = false;
    std::vector<int> indices = {};
    std::vector<int> second = {};
};
QByteArray GifFile(const TGifRecipe &recipe);

// A bare codestream whose size header claims width x height (each 1 to
// 2^30), with default image metadata and nothing after: bits in the order
// JPEG XL writes them, the first in a byte's lowest bit.
QByteArray CodestreamClaiming(std::uint32_t width, std::uint32_t height);

// A TGA picture: its kind, coding, size and depth, the alpha bits and
// origin its descriptor states, a name of idLength bytes, and the footer of
// version 2 files.
enum class TTgaType { Mapped = 1, Colour = 2, Grey = 3 };
enum class TTgaCoding { Plain, RunLengths };
enum class TTgaFooter { None, Version2 };

struct TTgaRecipe {
    TTgaType type = TTgaType::Colour;
    TTgaCoding coding = TTgaCoding::Plain;
    int width = 13, height = 7, bits = 24;
    int alphaBits = 0;
    bool fromTop = false, fromRight = false;
    int idLength = 0;
    // The index the colour map's first entry stands for.
    int mapFirst = 0;
    TTgaFooter footer = TTgaFooter::None;
};

// A TGA of noise with runs in it (every third pixel repeats the one
// before); runs of the coded form cross the ends of rows. A colour map holds 200 entries of 24 bits,
// for the indices from mapFirst on, and the pixels use those indices.
QByteArray TgaFile(const TTgaRecipe &r, std::uint32_t seed);
