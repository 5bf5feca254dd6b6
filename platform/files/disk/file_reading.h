// Files read with plain system calls, whole into memory or straight into a
// picture: never blocking for good on a pipe or device, never decoding from
// a mapping that another program can cut short.
#pragma once

#include "platform/base/malloc_memory.h"
#include "platform/files/file_source.h"
#include "platform/files/disk/system_calls.h"
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
    TMallocPtr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    friend class TFileReading;
};

// A file read from its start to its end. Regular files are read with
// pread() and preadv(), each call at its own offset, and a file whose size
// or modification time changes meanwhile, or that ends early, is refused.
// Pipes, devices and files of no stated size (as in /proc) are read as a
// stream: waited on in short steps (cancellable through the current
// work's progress), for at most IdleSecondsAllowed without data, and for
// at most MaxFileBytes. Nothing is ever mapped. Every method throws
// Exception with the reason alone, without the file's name.
//
// A regular file can be read straight into a picture by its codec (as a
// TFileSource), each byte copied once; else it is read whole into memory
// (Whole).
class TFileReading final : public TFileSource {
public:
    // Opens the named file and checks that it is one to read.
    explicit TFileReading(const QString &fileName);
    ~TFileReading() override;
    TFileReading(const TFileReading &) = delete;
    TFileReading &operator=(const TFileReading &) = delete;

    // A regular file of a stated size, which may be read straight.
    bool Regular() const;

    std::uint64_t Size() const override;
    std::span<const std::uint8_t> Start(std::size_t bytes) override;
    void ReadInto(std::span<const std::span<std::uint8_t>> pieces) override;
    std::span<const std::uint8_t> Finish() override;
    void ReadAt(std::uint64_t at, std::span<std::uint8_t> into) override;
    void CheckUnchanged() override;

    // Every byte of the file, in memory of its own: what Start read, and
    // the rest. Not after ReadInto.
    TFileBytes Whole();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// Every byte of the named file (TFileReading::Whole).
TFileBytes ReadWholeFile(const QString &fileName);
