// Whole files read into memory and written out with plain system calls:
// never blocking for good on a pipe or device, never decoding from a
// mapping that another program can cut short.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

// The most a picture file may hold: the largest picture's pixels and room
// for headers. An endless source (a device, a pipe) is cut off here.
inline constexpr std::size_t MaxFileBytes = TBitmap::MaxPixelBytes + (std::size_t(64) << 20);

// How long a pipe or device may give nothing before reading or writing
// it is given up, when the user does not cancel first.
inline constexpr int IdleSecondsAllowed = 10;

// A reason worded by the system or Qt ("No space left on device") as the
// end of this program's sentences ("no space left on device").
QString SystemWording(const QString &text);

// A file's bytes, held in memory of their own.
class TFileBytes {
public:
    std::span<const std::uint8_t> Bytes() const { return {data_.get(), size_}; }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t *p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> data_;
    std::size_t size_ = 0;
    friend TFileBytes ReadWholeFile(const QString &fileName);
};

// Reads every byte of the named file. Regular files are read with read(),
// and a file whose size or modification time changes meanwhile, or that
// ends early, is refused. Pipes, devices and files of no stated size (as
// in /proc) are read as a stream: waited on in short steps (cancellable
// through the current work's progress), for at most IdleSecondsAllowed
// without data, and for at most MaxFileBytes. Throws Exception with the
// reason alone, without the file's name.
TFileBytes ReadWholeFile(const QString &fileName);

// Writes bytes over the named existing file that is not a regular file (a
// pipe, a device), without ever waiting for good: a pipe without a reader
// is refused. Past its checks, before the first byte goes out, the work can
// no longer be cancelled (BeginFinishing). Throws Exception with the reason
// alone.
void WriteToSpecialFile(const QString &fileName, const QByteArray &bytes);

// Whether saving over this existing regular file must write into it rather
// than rename a new file over it: when the file has other names (hard
// links), another owner or group, mode bits a new file would not get, or
// lies in a folder the user cannot write.
bool MustWriteInPlace(const QString &fileName);

// Gives the open file `to` every extended attribute of the named file (user
// attributes such as tags, access lists), if it has any. False when one
// cannot be read or given.
bool CopyExtendedAttributes(const QString &fromFile, int to);

// Overwrites the named regular file with bytes, keeping its identity
// (inode, links, owner, group, mode). Its old bytes are copied aside first
// (TKeptCopy) and stay there until the new ones are synced, so that a kill
// at any moment leaves the old picture or the new one; the work can be
// cancelled until then (BeginFinishing). The space for the new bytes is
// reserved before the first old byte is replaced, and a failure after that
// puts the old bytes back. Throws Exception with the reason alone.
void WriteInPlace(const QString &fileName, const QByteArray &bytes);
