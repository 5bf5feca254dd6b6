// Plain system calls on files and folders, shared by the code that reads
// and writes whole files: descriptors closed on every way out, the
// system's reasons in this program's wording, waits for a pipe or device,
// folders synced.
#pragma once

#include <QString>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

// The system's reason for an error number, as the end of a sentence
// ("no space left on device").
QString SystemReason(int error);

// Closes the descriptor on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TDescriptor(const TDescriptor &) = delete;
    TDescriptor &operator=(const TDescriptor &) = delete;
    int Get() const { return fd_; }
    // Closes now, giving the error a close reports (a write the system
    // finished late can fail only here).
    int Close();

private:
    int fd_;
};

// How long a pipe or device may give nothing before reading or writing
// it is given up, when the user does not cancel first.
inline constexpr int IdleSecondsAllowed = 10;

// Waits at most a short step (so that a cancel is seen soon) for the
// descriptor to be ready for poll's `events`; counts the time it stayed
// idle in idleMilliseconds and gives up once IdleSecondsAllowed have passed
// so, throwing Exception ("nothing could be <doing> it for 10 seconds").
// Throws ECancelled when the current work was cancelled.
void WaitForReady(int fd, short events, int &idleMilliseconds, const char *doing);

// Writes every byte at the descriptor's position, carrying on after a
// short write. Gives 0, or the error (ENOSPC for a write that takes none).
int WriteFully(int fd, const void *bytes, std::size_t size);

// Pieces of memory gone through in order by calls of the system (readv,
// writev) that each take many of them, and may take fewer bytes than given.
template <class Byte>
class TPieceCursor {
public:
    explicit TPieceCursor(std::span<const std::span<Byte>> pieces) : pieces_(pieces) { SkipEmpty(); }

    bool Done() const { return piece_ == pieces_.size(); }
    // The next pieces for one call: at most IOV_MAX of them and `bytes` bytes.
    const std::vector<iovec> &Next(std::size_t bytes)
    {
        vectors_.clear();
        // Grown once, not call by call.
        vectors_.reserve(std::min(pieces_.size() - piece_, static_cast<std::size_t>(IOV_MAX)));
        std::size_t batch = 0;
        for (std::size_t i = piece_, at = within_; i < pieces_.size() && vectors_.size() < static_cast<std::size_t>(IOV_MAX) && batch < bytes; ++i, at = 0) {
            const std::size_t take = std::min(pieces_[i].size() - at, bytes - batch);
            if (take == 0) continue;
            vectors_.push_back({const_cast<std::uint8_t *>(pieces_[i].data() + at), take});
            batch += take;
        }
        return vectors_;
    }
    // Past the bytes a call took.
    void Advance(std::size_t bytes)
    {
        while (bytes > 0) {
            const std::size_t taken = std::min(bytes, pieces_[piece_].size() - within_);
            within_ += taken;
            bytes -= taken;
            SkipEmpty();
        }
    }

private:
    void SkipEmpty()
    {
        while (piece_ < pieces_.size() && within_ == pieces_[piece_].size()) {
            ++piece_;
            within_ = 0;
        }
    }

    std::span<const std::span<Byte>> pieces_;
    // The next byte: of pieces_[piece_], at within_.
    std::size_t piece_ = 0, within_ = 0;
    std::vector<iovec> vectors_;
};

// Writes the pieces in order at the descriptor's position, many a call,
// carrying on after a short write. The calls take at most 8 MiB each, and
// a cancel of the current work is taken before each (CheckCancelled).
// Gives 0, or the error (ENOSPC for a write that takes none).
int WritePieces(int fd, std::span<const std::span<const std::uint8_t>> pieces);

// Makes the folder's entries (a file just made or removed) last through a
// crash. Gives 0, or the error; a file system that cannot sync folders is
// no error.
int SyncFolder(int folder);
