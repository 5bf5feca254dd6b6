// BMP files, fax-coded rows, PNG chunks and files, GIF image data, JPEG and TIFF files, byte by byte.
#include "support/file_builders.h"

#include "platform/files/png/png_filters.h"

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

std::vector<std::uint8_t> BmpFile(const TBmpRecipe &r)
{
    using TBytes = std::vector<std::uint8_t>;
    TBytes b;
    const auto put = [](TBytes &to, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) to.push_back(i < 8 ? static_cast<std::uint8_t>(v >> (8 * i)) : 0);
    };
    put(b, 'B' | ('M' << 8), 2);
    put(b, r.fileSize, 4);
    put(b, 0, 8);
    TBytes header;
    const int sizeBytes = r.headerSize == 12 ? 2 : 4;
    for (const auto &[value, bytes] : std::initializer_list<std::pair<std::uint64_t, int>>{
             {r.headerSize, 4}, {std::uint32_t(r.width), sizeBytes}, {std::uint32_t(r.height), sizeBytes}, {r.planes, 2},
             {r.bits, 2}, {r.compression, 4}, {0, 12}, {r.colours, 4}, {0, 4}})
        put(header, value, bytes);
    const bool masksInside = r.headerSize > 40;
    for (std::uint32_t mask : r.masks) put(masksInside ? header : b, mask, 4);
    // A lying size field is not followed by gigabytes.
    header.resize(std::min<std::uint32_t>(r.headerSize, 124));
    b.insert(b.begin() + 14, header.begin(), header.end());
    for (std::uint32_t colour : r.palette) put(b, colour, r.headerSize == 12 ? 3 : 4);
    b.insert(b.end(), r.gap, 0xEE);
    const std::uint32_t pixelsAt = r.pixelsAt < 0 ? static_cast<std::uint32_t>(b.size()) : static_cast<std::uint32_t>(r.pixelsAt);
    for (int i = 0; i < 4; ++i) b[10 + i] = static_cast<std::uint8_t>(pixelsAt >> (8 * i));
    b.insert(b.end(), r.pixels.begin(), r.pixels.end());
    return b;
}

std::vector<std::uint8_t> PackedBits(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    int count = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (count % 8 == 0) bytes.push_back(0);
        if (c == '1') bytes.back() = static_cast<std::uint8_t>(bytes.back() | 0x80 >> (count % 8));
        ++count;
    }
    return bytes;
}

std::string FaxCodeText(fax::TInk ink, int run)
{
    for (const fax::TCode &code : fax::Codes(ink))
        if (code.run == run) {
            std::string text;
            for (int b = code.length - 1; b >= 0; --b) text += (code.bits >> b & 1) ? '1' : '0';
            return text;
        }
    return "no code";
}

std::vector<std::uint8_t> FaxCoded(const std::vector<std::vector<int>> &rows, TFaxRowStart start)
{
    std::string bits;
    for (const std::vector<int> &runs : rows) {
        if (start == TFaxRowStart::OnAByte) bits.resize((bits.size() + 7) / 8 * 8, '0');
        if (start == TFaxRowStart::AfterEndOfLine) bits += "000000000001";
        fax::TInk ink = fax::TInk::White;
        for (int run : runs) {
            for (int makeUp; (makeUp = std::min(run / 64 * 64, 2560)) > 0; run -= makeUp) bits += FaxCodeText(ink, makeUp);
            bits += FaxCodeText(ink, run);
            ink = ink == fax::TInk::White ? fax::TInk::Black : fax::TInk::White;
        }
    }
    return PackedBits(bits);
}

std::vector<int> FaxRuns(const std::uint8_t *row, int width)
{
    std::vector<int> runs;
    int colour = 0, run = 0;
    for (int x = 0; x < width; ++x) {
        const int bit = row[x >> 3] >> (7 - (x & 7)) & 1;
        if (bit != colour) {
            runs.push_back(run);
            colour = bit;
            run = 0;
        }
        ++run;
    }
    runs.push_back(run);
    return runs;
}

QByteArray BigEndian32(std::uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

std::uint32_t Crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

QByteArray PngChunk(const char *type, const QByteArray &data)
{
    const QByteArray typed = QByteArray(type) + data;
    return BigEndian32(static_cast<std::uint32_t>(data.size())) + typed + BigEndian32(Crc32(typed));
}

QByteArray GifLiteralImageData(const std::vector<int> &indices, int codeSize)
{
    const int clear = 1 << codeSize, width = codeSize + 1;
    // Each literal adds a table entry; the width grows when they reach 2^width.
    const std::size_t period = static_cast<std::size_t>((1 << width) - clear - 2);
    std::vector<int> codes{clear};
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i && i % period == 0) codes.push_back(clear);
        codes.push_back(indices[i]);
    }
    codes.push_back(clear + 1);
    QByteArray data;
    std::uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8) data += char(bits & 0xFF);
    }
    if (count) data += char(bits & 0xFF);
    QByteArray blocks(1, char(codeSize));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray chunk = data.mid(at, 255);
        blocks += char(chunk.size());
        blocks += chunk;
    }
    blocks += char(0);
    return blocks;
}

int PngChannels(int colourType) { return colourType == 0 || colourType == 3 ? 1 : colourType == 4 ? 2 : colourType == 2 ? 3 : 4; }

QByteArray MakePng(const PngRecipe &recipe)
{
    const int channels = PngChannels(recipe.colourType);
    const int bitsPerPixel = channels * recipe.depth;
    const int step = std::max(1, bitsPerPixel / 8);
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes = recipe.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                                                     : std::vector<Pass>{{0, 0, 1, 1}};
    QByteArray raw;
    int filter = 0;
    for (const Pass &p : passes) {
        const int pw = (recipe.width - p.x0 + p.dx - 1) / p.dx, ph = (recipe.height - p.y0 + p.dy - 1) / p.dy;
        if (pw <= 0 || ph <= 0) continue;
        const std::size_t rowBytes = (static_cast<std::size_t>(pw) * bitsPerPixel + 7) / 8;
        std::vector<std::uint8_t> prior(rowBytes, 0), row(rowBytes), out(rowBytes);
        for (int py = 0; py < ph; ++py) {
            std::fill(row.begin(), row.end(), 0);
            std::size_t bit = 0;
            for (int px = 0; px < pw; ++px)
                for (int c = 0; c < channels; ++c, bit += static_cast<std::size_t>(recipe.depth)) {
                    const unsigned v = recipe.sample(p.x0 + px * p.dx, p.y0 + py * p.dy, c);
                    if (recipe.depth == 16) {
                        row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
                        row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
                    } else {
                        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - recipe.depth - bit % 8));
                    }
                }
            const auto type = static_cast<TPngFilter>(filter++ % 5);
            FilterPngRow(type, row.data(), prior.data(), rowBytes, step, out.data());
            raw += char(type);
            raw += QByteArray(reinterpret_cast<const char *>(out.data()), static_cast<qsizetype>(rowBytes));
            prior = row;
        }
    }
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += PngChunk("IHDR", BigEndian32(static_cast<std::uint32_t>(recipe.width)) + BigEndian32(static_cast<std::uint32_t>(recipe.height)) +
                             char(recipe.depth) + char(recipe.colourType) + char(0) + char(0) + char(recipe.interlaced ? 1 : 0));
    if (!recipe.plte.isEmpty()) png += PngChunk("PLTE", recipe.plte);
    if (!recipe.trns.isEmpty()) png += PngChunk("tRNS", recipe.trns);
    // qCompress puts the length before the zlib stream.
    png += PngChunk("IDAT", qCompress(raw, 6).mid(4));
    return png + PngChunk("IEND", {});
}

QByteArray PngClaiming(std::uint32_t width, std::uint32_t height, int depth, int colourType, const QByteArray &rows,
                       TInterlacing interlacing)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += PngChunk("IHDR", BigEndian32(width) + BigEndian32(height) + char(depth) + char(colourType) + char(0) + char(0) +
                                char(interlacing == TInterlacing::Adam7 ? 1 : 0));
    // qCompress puts the length before the zlib stream.
    png += PngChunk("IDAT", qCompress(rows, 9).mid(4));
    return png + PngChunk("IEND", {});
}

QByteArray GifClaiming(int screenWidth, int screenHeight, int left, int top, int width, int height)
{
    QByteArray gif("GIF89a");
    const auto put16 = [&](int v) {
        gif += char(v & 0xFF);
        gif += char(v >> 8);
    };
    put16(screenWidth);
    put16(screenHeight);
    gif += QByteArray("\xF0\0\0\0\0\0\xFF\xFF\xFF", 9);
    gif += ',';
    put16(left);
    put16(top);
    put16(width);
    put16(height);
    gif += QByteArray("\0\2\2\x4C\x01\0;", 7);
    return gif;
}

QByteArray JpegClaiming(QByteArray jpeg, int width, int height)
{
    for (const char *frame : {"\xFF\xC0", "\xFF\xC1", "\xFF\xC2", "\xFF\xC9", "\xFF\xCA"}) {
        const qsizetype at = jpeg.indexOf(QByteArray(frame, 2));
        if (at < 0) continue;
        jpeg[at + 5] = char(height >> 8);
        jpeg[at + 6] = char(height);
        jpeg[at + 7] = char(width >> 8);
        jpeg[at + 8] = char(width);
        return jpeg;
    }
    return {};
}

QByteArray HandMadeTiff(const TTiffRecipe &r)
{
    QByteArray tiff("II*\0\0\0\0\0", 8);
    const auto put = [](QByteArray &to, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) to += char(v >> (8 * i));
    };
    QByteArray offsets, counts;
    for (std::size_t i = 0; i < r.strips.size(); ++i) {
        put(offsets, static_cast<std::uint32_t>(tiff.size()), 4);
        put(counts, i < r.counts.size() ? r.counts[i] : static_cast<std::uint32_t>(r.strips[i].size()), 4);
        tiff += r.strips[i];
    }
    // One value is held in the entry itself; more lie before the directory.
    const auto place = [&](const QByteArray &values) {
        if (values.size() == 4) return values;
        QByteArray at;
        put(at, static_cast<std::uint32_t>(tiff.size()), 4);
        tiff += values;
        return at;
    };
    const QByteArray offsetsValue = place(offsets), countsValue = place(counts);
    const std::uint32_t directory = static_cast<std::uint32_t>(tiff.size());
    for (int i = 0; i < 4; ++i) tiff[4 + i] = char(directory >> (8 * i));
    put(tiff, 8, 2);
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, const QByteArray &value) {
        put(tiff, tag, 2);
        put(tiff, type, 2);
        put(tiff, count, 4);
        tiff += value;
    };
    const auto one = [&](std::uint32_t v) {
        QByteArray value;
        put(value, v, 4);
        return value;
    };
    const auto strips = static_cast<std::uint32_t>(r.strips.size());
    entry(256, 4, 1, one(r.width));
    entry(257, 4, 1, one(r.height));
    entry(258, 3, 1, one(8));
    entry(259, 3, 1, one(1));
    entry(262, 3, 1, one(1));
    entry(273, 4, strips, offsetsValue);
    entry(278, 4, 1, one(r.rowsPerStrip));
    entry(279, 4, strips, countsValue);
    put(tiff, 0, 4);
    return tiff;
}

qsizetype JpegEntropyBytes(const QByteArray &jpeg)
{
    qsizetype bytes = 0;
    for (qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2)); sos >= 0 && sos + 3 < jpeg.size();
         sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2), sos + 2)) {
        qsizetype at = sos + 2 + (std::uint8_t(jpeg[sos + 2]) << 8 | std::uint8_t(jpeg[sos + 3]));
        const qsizetype from = at;
        while (at + 1 < jpeg.size()) {
            const auto next = std::uint8_t(jpeg[at + 1]);
            if (std::uint8_t(jpeg[at]) == 0xFF && next != 0 && next != 0xFF && (next < 0xD0 || next > 0xD7)) break;
            ++at;
        }
        bytes += (at + 1 < jpeg.size() ? at : jpeg.size()) - from;
    }
    return bytes;
}

namespace {

// A colour table of 2^n entries, the colours given then black.
QByteArray GifTable(const std::vector<QRgb> &colours)
{
    int bits = 1;
    while ((std::size_t(1) << bits) < colours.size()) ++bits;
    QByteArray table;
    for (std::size_t i = 0; i < (std::size_t(1) << bits); ++i) {
        const QRgb c = i < colours.size() ? colours[i] : 0;
        table += char(qRed(c));
        table += char(qGreen(c));
        table += char(qBlue(c));
    }
    return table;
}

int GifTableBits(const std::vector<QRgb> &colours)
{
    int bits = 1;
    while ((std::size_t(1) << bits) < colours.size()) ++bits;
    return bits;
}

} // namespace

QByteArray GifFile(const TGifRecipe &r)
{
    QByteArray gif("GIF89a");
    const auto put16 = [&](int v) {
        gif += char(v & 0xFF);
        gif += char((v >> 8) & 0xFF);
    };
    put16(r.screenWidth);
    put16(r.screenHeight);
    gif += char(r.globalTable.empty() ? 0 : 0x80 | (GifTableBits(r.globalTable) - 1));
    gif += char(r.background);
    gif += char(0);
    if (!r.globalTable.empty()) gif += GifTable(r.globalTable);
    const auto image = [&](const std::vector<int> &indices) {
        if (r.transparent >= 0) gif += QByteArray("\x21\xF9\x04\x01\0\0", 6) + char(r.transparent) + char(0);
        gif += ',';
        put16(r.left);
        put16(r.top);
        put16(r.width);
        put16(r.height);
        gif += char((r.localTable.empty() ? 0 : 0x80 | (GifTableBits(r.localTable) - 1)) | (r.interlaced ? 0x40 : 0));
        if (!r.localTable.empty()) gif += GifTable(r.localTable);
        std::vector<int> stored;
        if (r.interlaced) {
            for (const auto &[start, step] : {std::pair{0, 8}, std::pair{4, 8}, std::pair{2, 4}, std::pair{1, 2}})
                for (int y = start; y < r.height; y += step)
                    stored.insert(stored.end(), indices.begin() + std::ptrdiff_t(y) * r.width, indices.begin() + std::ptrdiff_t(y + 1) * r.width);
        } else {
            stored = indices;
        }
        gif += GifLiteralImageData(stored, 8);
    };
    image(r.indices);
    if (!r.second.empty()) image(r.second);
    return gif + ';';
}

QByteArray CodestreamClaiming(std::uint32_t width, std::uint32_t height)
{
    std::vector<bool> bits;
    const auto put = [&](std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) bits.push_back((value >> i) & 1);
    };
    put(0, 1); // not a small size
    put(3, 2); // the height less 1 in 30 bits
    put(height - 1, 30);
    put(0, 3); // no ratio: the width follows
    put(3, 2);
    put(width - 1, 30);
    put(1, 1); // default metadata
    QByteArray bytes("\xFF\x0A", 2);
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        int byte = 0;
        for (std::size_t b = 0; b < 8 && i + b < bits.size(); ++b) byte |= int(bits[i + b]) << b;
        bytes += char(byte);
    }
    return bytes + QByteArray(16, '\0');
}

QByteArray TgaFile(const TTgaRecipe &r, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const int pixelBytes = (r.bits + 7) / 8;
    QByteArray tga(18, '\0');
    tga[0] = char(r.idLength);
    tga[1] = char(r.type == TTgaType::Mapped);
    tga[2] = char(int(r.type) | (r.coding == TTgaCoding::RunLengths ? 8 : 0));
    const auto put16 = [&](int at, int v) { tga[at] = char(v & 0xFF), tga[at + 1] = char(v >> 8); };
    if (r.type == TTgaType::Mapped) put16(3, r.mapFirst), put16(5, 200), tga[7] = 24;
    put16(12, r.width);
    put16(14, r.height);
    tga[16] = char(r.bits);
    tga[17] = char(r.alphaBits | (r.fromRight ? 0x10 : 0) | (r.fromTop ? 0x20 : 0));
    for (int i = 0; i < r.idLength; ++i) tga += char('a' + i % 26);
    if (r.type == TTgaType::Mapped)
        for (int i = 0; i < 3 * 200; ++i) tga += char(random());
    std::vector<QByteArray> pixels;
    for (int i = 0; i < r.width * r.height; ++i) {
        if (i % 3 == 2) {
            pixels.push_back(pixels.back());
            continue;
        }
        QByteArray pixel;
        for (int b = 0; b < pixelBytes; ++b) pixel += char(random());
        if (r.type == TTgaType::Mapped) pixel[0] = char(r.mapFirst + int(random() % 200));
        pixels.push_back(pixel);
    }
    if (r.coding == TTgaCoding::Plain) {
        for (const QByteArray &pixel : pixels) tga += pixel;
    } else {
        // Runs of equal pixels, else literal packets, of up to 128.
        for (std::size_t i = 0; i < pixels.size();) {
            std::size_t run = 1;
            while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) ++run;
            if (run > 1) {
                tga += char(0x80 | (run - 1));
                tga += pixels[i];
                i += run;
                continue;
            }
            std::size_t literal = 1;
            while (i + literal < pixels.size() && literal < 128 && pixels[i + literal] != pixels[i + literal - 1]) ++literal;
            if (i + literal < pixels.size() && literal > 1) --literal;
            tga += char(literal - 1);
            for (std::size_t k = 0; k < literal; ++k) tga += pixels[i + k];
            i += literal;
        }
    }
    if (r.footer == TTgaFooter::Version2) tga += QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18);
    return tga;
}
