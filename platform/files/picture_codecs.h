// Which codec reads and writes each format of the table (file_formats.h),
// and what goes through them: decoding and encoding a whole file held in
// memory, the formats written, the dialogs' filters.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/files/file_sink.h"
#include "platform/files/file_source.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>

// Whether bytes start as a file of the format does.
using TPictureSignature = bool (*)(std::span<const std::uint8_t> bytes);
// Decodes a whole file held in memory into `into`, which changes only once
// the picture is whole: every reader starts its picture and hands it over
// through TDecodedPicture (decoded_picture.h), so that on any failure,
// or a cancel, `into` is exactly as it was. Throws Exception with a plain
// reason (no file name). Gives the rows the file lacked because its data
// ends early (opening_limits.h).
using TPictureReader = TRowsMissing (*)(std::span<const std::uint8_t> bytes, TBitmap &into);
// Reads a regular file straight into `into`, its bytes copied once, as a
// TPictureReader decodes, for a format whose reader can: none when this file is not one it reads so,
// having read no more than the file's start, and the file is then read
// whole and decoded by the format's TPictureReader.
using TPictureStraightReader = std::optional<TRowsMissing> (*)(TFileSource &file, TBitmap &into);
// Encodes a bitmap whole into memory with the format's options. Throws
// Exception with a plain reason.
using TPictureWriter = QByteArray (*)(const TBitmap &bitmap, const TPictureFileFormatInfo &format);
// Writes a bitmap into a new file as it encodes it, for a format whose
// writer can (TFileSink).
using TPictureStraightWriter = void (*)(const TBitmap &bitmap, TFileSink &file);

struct TPictureCodec {
    TPictureFileFormat format;
    // A reader of our own, tried first for bytes with its signature; formats
    // without one are read by Qt's readers, which tell formats apart
    // themselves.
    TPictureSignature signature;
    TPictureReader read;
    // Null for a format this program does not write.
    TPictureWriter write;
    // Null where files are read whole and decoded by `read`.
    TPictureStraightReader readStraight = nullptr;
    // Null where files are encoded whole by `write` before they are written.
    TPictureStraightWriter writeStraight = nullptr;
};

// The format's codec: for a format without one of its own, read by
// Qt's readers and not written.
TPictureCodec PictureCodec(TPictureFileFormat format);

// "BMP, PNG, ... and ICO": the formats this program writes.
QString WritablePictureFormats();

// Decodes a whole file held in memory, by the reader of the format whose
// signature it has, else by Qt's readers (TPictureReader). Throws Exception
// with the reason (without a file name) when the bytes are not a picture it
// can read. Gives the rows the file lacked because it ends early.
TRowsMissing DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into);
// Reads a regular file straight into a picture by the reader of the format
// whose signature its start has, where that reader reads files so; none,
// having read no more than the file's start, when the file is to be read
// whole and decoded (DecodePicture).
std::optional<TRowsMissing> ReadPictureStraight(TFileSource &file, TBitmap &into);
// Encodes a bitmap whole into memory. Throws Exception with the reason,
// also for a format this program does not write.
QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format);
// Whether a new file of the format is written as it is encoded
// (WritePictureStraight), rather than encoded whole first.
bool WritesStraight(TPictureFileFormat format);
// The bytes EncodePicture gives, written into `file`: as they are encoded
// where the format's writer writes straight, else once encoded whole.
// Throws as EncodePicture does, before TFileSink::Begin, and what `file`
// throws.
void WritePictureStraight(const TBitmap &bitmap, TPictureFileFormat format, TFileSink &file);

// Name filters for the open and save dialogs: "All pictures" first; the open
// dialog's last is "All files".
QStringList OpenPictureFilters();
QStringList SavePictureFilters();
