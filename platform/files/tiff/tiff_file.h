// A TIFF file as its readers reach it: held whole in memory, or read where
// it lies in a regular file, a piece at a time, since a TIFF's directories
// and strips may lie anywhere in it.
#pragma once

#include "platform/files/file_source.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TTiffFile {
public:
    virtual ~TTiffFile() = default;

    virtual std::uint64_t Size() const = 0;
    // Copies the bytes at `at` into `into`: false where the file does not
    // hold them all, or they could not be read (the reason kept for Check).
    virtual bool Read(std::uint64_t at, std::span<std::uint8_t> into) const = 0;
    // The memory the file takes while a picture is read from it.
    virtual std::uint64_t HeldBytes() const = 0;
    // Throws the reason a read failed, where one did: libtiff, which reads
    // through Read, cannot pass an exception on.
    virtual void Check() const = 0;
    // Once the picture is read: checks that the file did not change meanwhile.
    virtual void Finish() = 0;
};

// A file held whole in memory.
class TTiffMemoryFile final : public TTiffFile {
public:
    explicit TTiffMemoryFile(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool Read(std::uint64_t at, std::span<std::uint8_t> into) const override;
    std::uint64_t HeldBytes() const override { return bytes_.size(); }
    void Check() const override {}
    void Finish() override {}

private:
    std::span<const std::uint8_t> bytes_;
};

// A regular file read where it lies: small reads (of the directories, a
// value at a time) come from one block kept in memory, large ones (strips
// and tiles) go straight into their place.
class TTiffSourceFile final : public TTiffFile {
public:
    explicit TTiffSourceFile(TFileSource &source) : source_(source) { block_.reserve(BlockBytes); }
    std::uint64_t Size() const override { return source_.Size(); }
    bool Read(std::uint64_t at, std::span<std::uint8_t> into) const override;
    std::uint64_t HeldBytes() const override { return BlockBytes; }
    void Check() const override;
    void Finish() override;

    static constexpr std::size_t BlockBytes = std::size_t(64) << 10;

private:
    TFileSource &source_;
    // The block of the file last read for small reads, from blockAt_.
    mutable std::vector<std::uint8_t> block_;
    mutable std::uint64_t blockAt_ = 0;
    mutable std::optional<QString> failure_;
};
