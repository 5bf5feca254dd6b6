// A regular file as a reader that reads it straight into a picture sees
// it: its start in memory, then its following bytes read into places of
// the reader's choosing, each byte copied once; or, for a format whose
// pieces lie anywhere, the bytes at any place. Opening and checking the
// file are the files room's (file_reading.h); the codecs see only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class TFileSource {
public:
    virtual ~TFileSource() = default;

    // The file's size, as it was when opened.
    virtual std::uint64_t Size() const = 0;
    // At least the file's first `bytes` bytes (all it has, when fewer), in
    // memory: a few KiB at once, in which most files' headers end. A later
    // call may ask for more of them, not after ReadInto.
    virtual std::span<const std::uint8_t> Start(std::size_t bytes) = 0;
    // Reads the file's next bytes, after those read so far, into the pieces
    // in order, reporting progress as it goes.
    virtual void ReadInto(std::span<const std::span<std::uint8_t>> pieces) = 0;
    // Reads what is left of the file (a colour profile after the pixels,
    // say), checks that it ended where it should, its size and time
    // unchanged, and gives those bytes, held until the source ends.
    virtual std::span<const std::uint8_t> Finish() = 0;

    // Reads the bytes at `at` into `into`, wherever the bytes read in order
    // are; `at` and the size lie within Size(). Throws Exception when the
    // file ends first: it changed.
    virtual void ReadAt(std::uint64_t at, std::span<std::uint8_t> into) = 0;
    // For a reader that read with ReadAt alone: checks that the file is as
    // it was when opened, its size and time unchanged.
    virtual void CheckUnchanged() = 0;
};
