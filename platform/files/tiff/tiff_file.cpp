// Reading a TIFF file's bytes from memory or from where they lie.
#include "platform/files/tiff/tiff_file.h"

#include "platform/base/strings_and_errors.h"

#include <algorithm>
#include <cstring>

bool TTiffMemoryFile::Read(std::uint64_t at, std::span<std::uint8_t> into) const
{
    if (at > bytes_.size() || into.size() > bytes_.size() - at) return false;
    std::memcpy(into.data(), bytes_.data() + at, into.size());
    return true;
}

bool TTiffSourceFile::Read(std::uint64_t at, std::span<std::uint8_t> into) const
{
    const std::uint64_t size = source_.Size();
    if (failure_ || at > size || into.size() > size - at) return false;
    try {
        if (into.size() >= BlockBytes) {
            source_.ReadAt(at, into);
            return true;
        }
        if (at < blockAt_ || at + into.size() > blockAt_ + block_.size()) {
            block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(BlockBytes, size - at)));
            blockAt_ = at;
            source_.ReadAt(at, block_);
        }
        std::memcpy(into.data(), block_.data() + (at - blockAt_), into.size());
        return true;
    } catch (const Exception &error) {
        block_.clear();
        failure_ = error.Message();
        return false;
    }
}

void TTiffSourceFile::Check() const
{
    if (failure_) throw Exception(*failure_);
}

void TTiffSourceFile::Finish()
{
    Check();
    source_.CheckUnchanged();
}
