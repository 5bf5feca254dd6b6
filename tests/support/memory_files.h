// A file held in memory as a reader sees a regular file (TFileSource),
// telling what it was asked for: for tests and fuzzing of the readers that
// read a file straight into a picture.
#pragma once

#include "platform/files/file_source.h"

#include <vector>

class TMemoryFileSource final : public TFileSource {
public:
    explicit TMemoryFileSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    std::span<const std::uint8_t> Start(std::size_t bytes) override;
    void ReadInto(std::span<const std::span<std::uint8_t>> pieces) override;
    std::span<const std::uint8_t> Finish() override;
    void ReadAt(std::uint64_t at, std::span<std::uint8_t> into) override;
    void CheckUnchanged() override { checked = true; }

    // Bytes given so far, in the start, the pieces or the rest.
    std::size_t position = 0;
    bool readIntoPieces = false;
    bool finished = false;
    // Bytes given by ReadAt, and whether the reader checked the file at its end.
    std::uint64_t readAtBytes = 0;
    bool checked = false;

private:
    std::vector<std::uint8_t> bytes_;
};
