// Reading JPEG pictures through libjpeg-turbo, straight into the bitmap's
// rows: the header through its TurboJPEG interface, the rows through its
// libjpeg interface, a band at a time, so that a long opening reports its
// progress and can be cancelled between bands, and while the scans of a
// progressive file are read before its first row.
#include "platform/files/jpeg/jpeg_codec.h"

#include "platform/base/pages_made_ready.h"
#include "platform/base/work_progress.h"
#include "platform/files/jpeg/jpeg_metadata.h"
#include "platform/files/jpeg/libjpeg_errors.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/jpeg_segments.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt/container_checks.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/reader_metadata.h"

#include <jerror.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct TjFree {
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjFree>;

// Called by libjpeg while it reads the scans of a progressive file (or of
// one whose colours come in scans of their own) before the first row, and
// with every call for rows: reports how far the reading of scans is by the
// bytes read, and heeds a cancel, stopping libjpeg by the jump its errors
// take. (The scans were counted before: OutlineOfJpeg.) Also told of
// libjpeg's warnings, it notes where the data ends early.
struct TScanMonitor {
    jpeg_progress_mgr manager{}; // first: libjpeg hands back its address
    std::jmp_buf *stop = nullptr;
    std::size_t fileBytes = 0;
    bool readingScans = false;
    bool cancelled = false;
    // The row of blocks (iMCU row) of the scan being read when its data
    // ended, or none while it has not.
    std::optional<JDIMENSION> dataEndedAt;

    static void Monitor(j_common_ptr common)
    {
        auto *self = reinterpret_cast<TScanMonitor *>(common->progress);
        if (!self->readingScans) return;
        // Reported as the first half of the opening; the rows are the second.
        const std::size_t unread = reinterpret_cast<j_decompress_ptr>(common)->src->bytes_in_buffer;
        try {
            ReportProgress(self->fileBytes - unread, 2 * std::uint64_t(self->fileBytes));
        } catch (const ECancelled &) {
            self->cancelled = true;
        }
        if (self->cancelled) std::longjmp(*self->stop, 1);
    }

    // libjpeg's messages: warnings (level -1) are counted, as libjpeg's own
    // handler does; the one that says the data ran out is noted. A Huffman
    // decoder says so exactly when it needs bits past the end marker (or
    // the end of the file, where one is put for it). An arithmetic decoder
    // may meet a marker by right, so only the end of the file inside a scan
    // counts: between scans its row of blocks is past the last one.
    static void Message(j_common_ptr common, int level)
    {
        if (level != -1) return;
        ++common->err->num_warnings;
        auto *self = reinterpret_cast<TScanMonitor *>(common->progress);
        const auto *info = reinterpret_cast<j_decompress_ptr>(common);
        const int code = common->err->msg_code;
        const bool ended = (code == JWRN_HIT_MARKER && info->unread_marker == int(TJpegMarker::Eoi)) ||
                           (code == JWRN_JPEG_EOF && info->arith_code && info->input_iMCU_row < info->total_iMCU_rows);
        if (self && ended && !self->dataEndedAt) self->dataEndedAt = info->input_iMCU_row;
    }
};

// Only the functions below call into libjpeg (libjpeg_errors.h). A warning
// (corrupt but decodable data) still gives the whole picture, as libjpeg's
// own readers accept it, unless the data ends early.
struct TDecompressor {
    jpeg_decompress_struct info{};
    TLibjpegErrors errors;
    TScanMonitor monitor;

    TDecompressor()
    {
        errors.Install(reinterpret_cast<j_common_ptr>(&info));
        errors.manager.emit_message = TScanMonitor::Message;
        monitor.manager.progress_monitor = TScanMonitor::Monitor;
        monitor.stop = &errors.failed;
    }
    ~TDecompressor() { jpeg_destroy_decompress(&info); }
    TDecompressor(const TDecompressor &) = delete;
    TDecompressor &operator=(const TDecompressor &) = delete;

    // Whether every scan is read before the first row.
    bool ReadsScansFirst() const { return info.progressive_mode || info.comps_in_scan < info.num_components; }
    // The memory libjpeg then keeps the picture's coefficients in.
    std::uint64_t CoefficientBytes() const
    {
        std::uint64_t bytes = 0;
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info &k = info.comp_info[c];
            const auto roundUp = [](std::uint64_t n, std::uint64_t step) { return (n + step - 1) / step * step; };
            bytes += roundUp(k.width_in_blocks, std::uint64_t(k.h_samp_factor)) * roundUp(k.height_in_blocks, std::uint64_t(k.v_samp_factor)) *
                     sizeof(JBLOCK);
        }
        return bytes;
    }
    // The least bytes of Huffman-coded data that code every block of the
    // picture: each block of each colour costs at least a bit in a
    // progressive file's first scan of its DC coefficients, whatever its
    // later scans (whose runs of empty blocks cost almost nothing), and two
    // in a sequential scan (its DC difference, then its end of block).
    // Restart markers only add bytes. Arithmetic coding can take less than
    // a bit a block: no least size then.
    std::uint64_t LeastHuffmanBytes() const
    {
        if (info.arith_code) return 0;
        std::uint64_t bits = 0;
        for (int c = 0; c < info.num_components; ++c)
            bits += std::uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks * (info.progressive_mode ? 1 : 2);
        return (bits + 7) / 8;
    }
    // The rows from the top whose data is all there, once it ended early:
    // those of the rows of blocks before the one it ended in, less the last
    // when smooth upsampling of subsampled colour reaches into the next.
    int RowsHeld() const
    {
        if (!monitor.dataEndedAt) return static_cast<int>(info.output_height);
        bool subsampled = false;
        for (int c = 0; c < info.num_components; ++c) subsampled |= info.comp_info[c].v_samp_factor < info.max_v_samp_factor;
        const std::uint64_t rows = std::uint64_t(*monitor.dataEndedAt) * std::uint64_t(info.max_v_samp_factor) * DCTSIZE;
        if (rows >= info.output_height) return static_cast<int>(info.output_height);
        return static_cast<int>(rows) - (rows > 0 && subsampled && info.do_fancy_upsampling ? 1 : 0);
    }
};

// Reads the header from memory, up to the first scan, for rows of B, G, R
// (JCS_EXT_BGR) or grey levels (JCS_GRAYSCALE).
bool ReadHeader(TDecompressor &d, std::span<const std::uint8_t> bytes, J_COLOR_SPACE rows)
{
    if (setjmp(d.errors.failed)) return false;
    jpeg_create_decompress(&d.info);
    d.info.progress = &d.monitor.manager;
    d.monitor.fileBytes = bytes.size();
    jpeg_mem_src(&d.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK) return false;
    d.info.out_color_space = rows;
    d.info.dct_method = JDCT_ISLOW;
    // Smoothing fills in what the scans a file lacks would have brought
    // (a whole file lacks none) from the blocks around each, those below
    // where its data ends early too: the rows above would show them.
    d.info.do_block_smoothing = FALSE;
    return true;
}

// Starts decompressing: reads every scan first where the file needs it.
bool StartDecompressing(TDecompressor &d)
{
    if (setjmp(d.errors.failed)) return false;
    d.monitor.readingScans = d.ReadsScansFirst();
    const bool started = jpeg_start_decompress(&d.info) == TRUE;
    d.monitor.readingScans = false;
    return started;
}

// Reads up to `count` rows into `rows`: the number read, or -1 on an error.
int ReadRows(TDecompressor &d, std::uint8_t **rows, int count)
{
    if (setjmp(d.errors.failed)) return -1;
    return static_cast<int>(jpeg_read_scanlines(&d.info, rows, static_cast<JDIMENSION>(count)));
}

bool FinishDecompressing(TDecompressor &d)
{
    if (setjmp(d.errors.failed)) return false;
    return jpeg_finish_decompress(&d.info) == TRUE;
}

// Why libjpeg stopped: a cancel or damage.
[[noreturn]] void Stopped(const TDecompressor &d)
{
    if (d.monitor.cancelled) throw ECancelled();
    throw Exception(DamagedData());
}

// Decodes the rows of the picture into the bitmap, allocated to its size,
// after the header was read: every row, or once the data ends early the
// rows it holds.
TRowsMissing DecodeRows(TDecompressor &d, TBitmap &bitmap)
{
    // libjpeg decodes on this core alone; the pages its rows go to are
    // mapped on another meanwhile, rather than at its first touch of each.
    const TPagesMadeReady ready(bitmap.Row(0), bitmap.ImageBytes());
    if (!StartDecompressing(d)) Stopped(d);
    const int height = bitmap.GetHeight();
    if (static_cast<int>(d.info.output_width) != bitmap.GetWidth() || static_cast<int>(d.info.output_height) != height ||
        d.info.output_components != (bitmap.GetPixelFormat() == pf8bit ? 1 : 3))
        throw Exception(DamagedData());
    // Bands of about a megabyte between reports; after the scans read
    // first, the second half of the opening.
    const int band = std::max(1, static_cast<int>((std::size_t(1) << 20) / std::max<std::size_t>(1, bitmap.BytesPerRow())));
    const std::uint64_t before = d.ReadsScansFirst() ? height : 0;
    std::vector<std::uint8_t *> rows(static_cast<std::size_t>(std::min(band, height)));
    ReportProgress(before, before + height);
    int y = 0;
    // Rows past those held are not decoded: libjpeg would fill them in.
    while (y < std::min(height, d.RowsHeld())) {
        const int count = std::min(band, height - y);
        for (int i = 0; i < count; ++i) rows[static_cast<std::size_t>(i)] = bitmap.Row(y + i);
        for (int done = 0; done < count && y + done < d.RowsHeld();) {
            const int read = ReadRows(d, rows.data() + done, count - done);
            if (read <= 0) Stopped(d);
            done += read;
        }
        y += count;
        ReportProgress(before + y, before + height);
    }
    if (!d.monitor.dataEndedAt && !FinishDecompressing(d)) Stopped(d);
    // The rows libjpeg gave past those held are its filling in.
    return RowsHeld(bitmap, d.RowsHeld(), y);
}

} // namespace

bool LooksLikeJpeg(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == std::uint8_t(TJpegMarker::Soi) && bytes[2] == 0xFF;
}

TRowsMissing DecodeJpeg(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const TjHandle handle(tjInitDecompress());
    if (!handle) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling, &colourSpace) != 0)
        throw Exception(DamagedData());
    const bool grey = colourSpace == TJCS_GRAY;
    const TPixelFormat format = grey ? pf8bit : pf24bit;
    // A size the bitmap cannot hold is refused before the file is walked.
    CheckPictureFits(width, height, format);
    const TJpegOutline outline = OutlineOfJpeg(bytes);
    if (outline.scans > MaxJpegScans) throw Exception(TooManyJpegScans());

    TDecompressor d;
    if (!ReadHeader(d, bytes, grey ? JCS_GRAYSCALE : JCS_EXT_BGR)) Stopped(d);
    TDecodedPicture decoded(into, TPictureFileFormat::Jpeg);
    CheckDataCanHold(width, height, decoded.FormatName(), outline.entropyBytes, d.LeastHuffmanBytes());
    // Four-channel pictures: Qt's reader knows their inverted-CMYK convention.
    if (colourSpace == TJCS_CMYK || colourSpace == TJCS_YCCK) {
        const TRowsMissing missing = DecodeWithQt(bytes, decoded.Picture());
        KeepFoundMetadata(decoded.Picture(), JpegMetadata(bytes));
        return decoded.HandOver(missing);
    }
    TBitmap &bitmap = d.ReadsScansFirst()
        ? decoded.Start(width, height, format, bytes.size() + d.CoefficientBytes(),
                        QStringLiteral("a JPEG in several scans (a progressive one) keeps them all, here in %1 MiB, until its rows are decoded")
                            .arg(CeilMiB(d.CoefficientBytes())))
        : decoded.StartCounted(width, height, format);
    if (grey) bitmap.SetPalette(GreyLevels);
    const TRowsMissing missing = DecodeRows(d, bitmap);
    KeepFoundMetadata(bitmap, JpegMetadata(bytes));
    return decoded.HandOver(missing);
}
