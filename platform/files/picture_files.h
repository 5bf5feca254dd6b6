// Reading and writing picture files: the format is chosen by the table of
// file formats (file_formats.h), the bytes are made by its codecs
// (picture_codecs.h).
#pragma once

#include "platform/files/picture_codecs.h"
#include "platform/pictures/bitmap.h"

// A picture was read, but the file ends early: raised once the part it
// holds is in place, so that the picture shows and the message tells what
// is missing.
class EPictureIncomplete : public Exception {
public:
    using Exception::Exception;
};

// Reads the named file (straight into the picture, or into memory whole,
// then decoded) into `into`, as the codecs decode (picture_codecs.h). On
// any failure it throws Exception `Cannot open "<native path>": <reason>`.
// A file that ends early gives what it holds in `into`, then throws
// EPictureIncomplete naming the file and the rows missing.
void ReadPictureFile(const AnsiString &fileName, TBitmap &into);
// Writes the bitmap in the format the name's extension names (BMP for a
// name without one) beside the target, and puts it in the target's place
// only when every byte is written: encoded whole in memory first, or, for a
// format written straight (WritesStraight: BMP), written as it is encoded.
// An existing device or pipe, and a file whose links, owner or mode bits a
// new file would not keep, are written in place instead, from the picture
// encoded whole. On any failure it throws Exception
// `Cannot save "<native path>": <reason>`, an existing file keeps every byte
// and no other file is left behind; an extension of a format this program
// does not write is such a failure, before anything is written. A file
// written in place keeps a copy of its old bytes until the new ones are on
// disk (WriteInPlace). Cancelled (ECancelled) only before the file is about
// to be replaced, which also leaves it byte for byte; from then on a cancel
// is refused (BeginFinishing).
void WritePictureFile(const AnsiString &fileName, const TBitmap &bitmap);
