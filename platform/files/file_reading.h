// Whole files read into memory with plain system calls: never blocking for
// good on a pipe or device, never decoding from a mapping that another
// program can cut short.
#pragma once

#include "platform/files/system_calls.h"
#include "platform/pictures/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

// The most a picture file may hold: the largest picture's pixels and room
// for headers. An endless source (a device, a pipe) is cut off here.
inline constexpr std::size_t MaxFileBytes = TBitmap::MaxPixelBytes + (std::size_t(64) << 20);

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
