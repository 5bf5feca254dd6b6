// A new file as a writer that writes it straight from a picture sees it:
// its size said first, then its bytes handed over in order, many pieces a
// call, each byte copied once. Opening, syncing and putting the file in
// its place are the files room's (picture_files.cpp); the codecs see only
// this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class TFileSink {
public:
    virtual ~TFileSink() = default;

    // The whole file's size, said once before its first byte: every
    // refusal of the writer (a picture too large for the format) comes
    // before it.
    virtual void Begin(std::uint64_t bytes) = 0;
    // Writes the pieces in order after the bytes written so far. Throws
    // Exception with the system's reason, or ECancelled between calls.
    virtual void Write(std::span<const std::span<const std::uint8_t>> pieces) = 0;
};
