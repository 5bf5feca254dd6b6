// A file held in memory as a reader sees a regular file.
#include "support/memory_files.h"

#include "platform/base/strings_and_errors.h"

#include <algorithm>
#include <cstring>

std::span<const std::uint8_t> TMemoryFileSource::Start(std::size_t bytes)
{
    if (readIntoPieces) throw Exception(QStringLiteral("the start was asked for after the pieces"));
    position = std::max(position, std::min(bytes, bytes_.size()));
    return {bytes_.data(), position};
}

void TMemoryFileSource::ReadInto(std::span<const std::span<std::uint8_t>> pieces)
{
    readIntoPieces = true;
    for (const std::span<std::uint8_t> piece : pieces) {
        if (piece.size() > bytes_.size() - position) throw Exception(QStringLiteral("read past the end"));
        std::memcpy(piece.data(), bytes_.data() + position, piece.size());
        position += piece.size();
    }
}

std::span<const std::uint8_t> TMemoryFileSource::Finish()
{
    finished = true;
    const std::size_t from = position;
    position = bytes_.size();
    return std::span<const std::uint8_t>(bytes_).subspan(from);
}

void TMemoryFileSource::ReadAt(std::uint64_t at, std::span<std::uint8_t> into)
{
    if (at > bytes_.size() || into.size() > bytes_.size() - at) throw Exception(QStringLiteral("read past the end"));
    std::memcpy(into.data(), bytes_.data() + at, into.size());
    readAtBytes += into.size();
}
