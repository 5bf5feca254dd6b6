// A regular file as a reader that reads it straight into a picture sees
// it: its start in memory, then its following bytes read into places of
// the reader's choosing, each byte copied once. Opening and checking the
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
    // The file's first `bytes` bytes (all it has, when fewer), in memory; a
    // later call may ask for more of them, not after ReadInto.
    virtual std::span<const std::uint8_t> Start(std::size_t bytes) = 0;
    // Reads the file's next bytes, after those read so far, into the pieces
    // in order, reporting progress as it goes.
    virtual void ReadInto(std::span<const std::span<std::uint8_t>> pieces) = 0;
    // Reads what is left of the file (a colour profile after the pixels,
    // say), checks that it ended where it should, its size and time
    // unchanged, and gives those bytes, held until the source ends.
    virtual std::span<const std::uint8_t> Finish() = 0;
};
