// Whole files read into memory with plain system calls.
#include "platform/files/disk/file_reading.h"

#include "platform/base/huge_pages.h"
#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace {

// Regular files are read in pieces of this size, each reported as progress.
constexpr std::size_t ReadPiece = std::size_t(16) << 20;

constexpr std::size_t MiB = std::size_t(1) << 20;

// Reading into pieces: from this many bytes in all, parts of the file are
// read on every core at once, each with its own preadv. Copying from the
// system's cache is the whole work of reading a cached file, and two cores
// do it in about half the time one does; below this, waking a second
// thread costs more than it saves (a 1 MiB file took 0.16 ms on two
// threads against 0.15 on one; 3 MiB 0.27 against 0.39).
constexpr std::size_t ParallelBytes = std::size_t(2) << 20;
// The least a part holds; a few parts a thread, so that a thread slowed by
// other work leaves its later parts to the others.
constexpr std::size_t LeastPartBytes = std::size_t(256) << 10;
constexpr std::size_t PartsPerThread = 4;

// What TFileReading::Start reads at least: one call for the headers and
// palette of most files.
constexpr std::size_t StartBytes = 4096;

[[noreturn]] void Refuse(const QString &reason) { throw Exception(reason); }

struct TGrowingBuffer {
    TMallocPtr<std::uint8_t[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;

    void Reserve(std::size_t wanted)
    {
        if (wanted <= capacity) return;
        auto *grown = static_cast<std::uint8_t *>(std::realloc(data.get(), wanted));
        if (!grown) throw std::bad_alloc();
        (void)data.release();
        data.reset(grown);
        capacity = wanted;
    }
};

QString TooMuch()
{
    return QStringLiteral("it gives more than %1 MiB, more than any picture file this program reads").arg(MaxFileBytes / MiB);
}

// A pipe, a device or a file of no stated size: read until it ends, in
// short waits, up to MaxFileBytes.
void ReadStream(int fd, TGrowingBuffer &buffer)
{
    int idle = 0;
    for (;;) {
        if (buffer.size == buffer.capacity)
            buffer.Reserve(std::min(MaxFileBytes + 1, std::max<std::size_t>(MiB, buffer.capacity * 2)));
        const ssize_t got = ::read(fd, buffer.data.get() + buffer.size, buffer.capacity - buffer.size);
        if (got == 0) return;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) Refuse(SystemReason(errno));
            WaitForReady(fd, POLLIN, idle, "read from");
            continue;
        }
        idle = 0;
        buffer.size += static_cast<std::size_t>(got);
        if (buffer.size > MaxFileBytes) Refuse(TooMuch());
        ReportProgress(buffer.size, 0);
    }
}

// Consecutive bytes of the file, from `at`, and where they go.
struct TPart {
    std::uint64_t at = 0;
    std::vector<std::span<std::uint8_t>> pieces;
};

// The pieces, whose bytes follow one another in the file from `at`, cut
// into parts of `partBytes` (the last may hold fewer); a piece may be cut
// between parts.
std::vector<TPart> CutIntoParts(std::span<const std::span<std::uint8_t>> pieces, std::uint64_t at, std::size_t partBytes)
{
    std::vector<TPart> parts;
    std::size_t room = 0;
    for (std::span<std::uint8_t> piece : pieces) {
        while (!piece.empty()) {
            if (room == 0) {
                parts.push_back({at, {}});
                room = partBytes;
            }
            const std::size_t take = std::min(room, piece.size());
            parts.back().pieces.push_back(piece.first(take));
            piece = piece.subspan(take);
            room -= take;
            at += take;
        }
    }
    return parts;
}

bool SameTime(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

const QString Changed = QStringLiteral("the file changed while it was being read; open it again once it is written");

// Reads exactly `bytes` into `into` from a regular file, from its byte
// `done` of `size`, in pieces reported as progress. At an offset of its
// own (pread), as the parts read on every core are: no call is spent
// moving the file's offset between them. A file that ends first changed.
void ReadExactly(int fd, std::uint8_t *into, std::size_t bytes, std::size_t done, std::size_t size)
{
    for (std::size_t got = 0; got < bytes;) {
        const ssize_t read = ::pread(fd, into + got, std::min(ReadPiece, bytes - got), static_cast<off_t>(done + got));
        if (read < 0) {
            if (errno == EINTR) continue;
            Refuse(SystemReason(errno));
        }
        if (read == 0) Refuse(Changed);
        got += static_cast<std::size_t>(read);
        ReportProgress(done + got, size);
    }
}

} // namespace

struct TFileReading::TState {
    explicit TState(int descriptor) : fd(descriptor) {}
    TDescriptor fd;
    struct stat before {};
    // What was read into memory: the start, or the whole file.
    TGrowingBuffer buffer;
    // Bytes read so far, into memory or into pieces.
    std::size_t position = 0;
    bool readIntoPieces = false;
    // What followed the bytes read into pieces.
    std::vector<std::uint8_t> rest;
};

TFileReading::TFileReading(const QString &fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat named;
    if (::stat(path.constData(), &named) == 0) {
        if (S_ISBLK(named.st_mode)) Refuse(QStringLiteral("it is a disk device, not a picture file"));
        if (S_ISSOCK(named.st_mode)) Refuse(QStringLiteral("it is a socket, not a picture file"));
    }
    // Non-blocking: opening a pipe must not wait for a writer.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) Refuse(QStringLiteral("the file does not exist"));
        Refuse(SystemReason(errno));
    }
    state_ = std::make_unique<TState>(fd);
    struct stat &before = state_->before;
    if (::fstat(fd, &before) != 0) Refuse(SystemReason(errno));
    if (S_ISDIR(before.st_mode)) Refuse(QStringLiteral("it is a folder, not a file"));
    if (S_ISBLK(before.st_mode)) Refuse(QStringLiteral("it is a disk device, not a picture file"));
    if (S_ISREG(before.st_mode) && static_cast<std::uint64_t>(before.st_size) > MaxFileBytes)
        Refuse(QStringLiteral("the file takes %1 MiB, more than any picture file this program reads (%2 MiB)")
                   .arg((static_cast<std::uint64_t>(before.st_size) + MiB - 1) / MiB)
                   .arg(MaxFileBytes / MiB));
}

TFileReading::~TFileReading() = default;

bool TFileReading::Regular() const { return S_ISREG(state_->before.st_mode) && state_->before.st_size > 0; }

std::uint64_t TFileReading::Size() const { return static_cast<std::uint64_t>(state_->before.st_size); }

std::span<const std::uint8_t> TFileReading::Start(std::size_t bytes)
{
    TState &s = *state_;
    const std::size_t wanted = std::min<std::size_t>(std::max(bytes, StartBytes), Size());
    if (wanted > s.buffer.size) {
        s.buffer.Reserve(wanted);
        ReadExactly(s.fd.Get(), s.buffer.data.get() + s.buffer.size, wanted - s.buffer.size, s.buffer.size, Size());
        s.buffer.size = s.position = wanted;
    }
    return {s.buffer.data.get(), s.buffer.size};
}

void TFileReading::ReadInto(std::span<const std::span<std::uint8_t>> pieces)
{
    TState &s = *state_;
    s.readIntoPieces = true;
    const std::size_t size = static_cast<std::size_t>(Size());
    std::size_t bytes = 0;
    for (const std::span<std::uint8_t> piece : pieces) bytes += piece.size();
    if (bytes > size - s.position) Refuse(Changed);
    // Each part with calls of many pieces (rows stored bottom row first go
    // each to its own place), of at most ReadPiece bytes. The calling
    // thread reports progress; a failure or a cancel stops every thread.
    // One thread reads the pieces as given, in as few calls as the system
    // takes: cutting them into parts costs a copy of the list and more
    // calls, worth it only where parts run at once.
    const unsigned threads = bytes >= ParallelBytes ? WorkerThreads() : 1;
    const int fd = s.fd.Get();
    std::atomic<std::size_t> read{0};
    const auto readPart = [&](std::span<const std::span<std::uint8_t>> part, std::uint64_t at, unsigned worker) {
        for (TPieceCursor<std::uint8_t> cursor(part); !cursor.Done();) {
            const std::vector<iovec> &vectors = cursor.Next(ReadPiece);
            const ssize_t got = ::preadv(fd, vectors.data(), static_cast<int>(vectors.size()), static_cast<off_t>(at));
            if (got < 0) {
                if (errno == EINTR) continue;
                Refuse(SystemReason(errno));
            }
            if (got == 0) Refuse(Changed);
            at += static_cast<std::uint64_t>(got);
            cursor.Advance(static_cast<std::size_t>(got));
            const std::size_t sofar = read.fetch_add(static_cast<std::size_t>(got)) + static_cast<std::size_t>(got);
            if (worker == 0) ReportProgress(s.position + sofar, size);
        }
    };
    if (threads == 1) {
        readPart(pieces, s.position, 0);
    } else {
        const std::size_t partBytes = std::clamp(bytes / (PartsPerThread * threads), LeastPartBytes, ReadPiece);
        const std::vector<TPart> parts = CutIntoParts(pieces, s.position, partBytes);
        ForEachPiece(
            parts.size(), threads, [&](std::size_t index, unsigned worker) { readPart(parts[index].pieces, parts[index].at, worker); },
            TPieceProgress::Unreported);
    }
    s.position += bytes;
}

std::span<const std::uint8_t> TFileReading::Finish()
{
    TState &s = *state_;
    const std::size_t size = static_cast<std::size_t>(Size());
    s.rest.resize(size - s.position);
    ReadExactly(s.fd.Get(), s.rest.data(), s.rest.size(), s.position, size);
    s.position = size;
    CheckUnchanged();
    return s.rest;
}

void TFileReading::ReadAt(std::uint64_t at, std::span<std::uint8_t> into)
{
    if (at > Size() || into.size() > Size() - at) Refuse(Changed);
    for (std::size_t got = 0; got < into.size();) {
        const ssize_t read = ::pread(state_->fd.Get(), into.data() + got, into.size() - got, static_cast<off_t>(at + got));
        if (read < 0) {
            if (errno == EINTR) continue;
            Refuse(SystemReason(errno));
        }
        if (read == 0) Refuse(Changed);
        got += static_cast<std::size_t>(read);
    }
}

void TFileReading::CheckUnchanged()
{
    TState &s = *state_;
    std::uint8_t beyond;
    ssize_t more;
    do more = ::pread(s.fd.Get(), &beyond, 1, static_cast<off_t>(Size()));
    while (more < 0 && errno == EINTR);
    struct stat after;
    if (more != 0 || ::fstat(s.fd.Get(), &after) != 0 || after.st_size != s.before.st_size || !SameTime(after.st_mtim, s.before.st_mtim))
        Refuse(Changed);
}

TFileBytes TFileReading::Whole()
{
    TState &s = *state_;
    if (s.readIntoPieces) throw Exception(QStringLiteral("the file was read into a picture already"));
    if (Regular()) {
        const std::size_t size = static_cast<std::size_t>(Size());
        s.buffer.Reserve(size);
        // Written whole right away: faulting it in by 4 KiB pages would cost
        // more than the reading itself.
        PreferHugePages(s.buffer.data.get(), size);
        ReadExactly(s.fd.Get(), s.buffer.data.get() + s.buffer.size, size - s.buffer.size, s.buffer.size, size);
        s.buffer.size = s.position = size;
        CheckUnchanged();
    } else {
        ReadStream(s.fd.Get(), s.buffer);
    }
    if (s.buffer.size == 0) {
        if (S_ISFIFO(s.before.st_mode)) Refuse(QStringLiteral("it is a pipe, and nothing was written to it"));
        Refuse(QStringLiteral("the file is empty"));
    }
    TFileBytes bytes;
    bytes.data_.reset(s.buffer.data.release());
    bytes.size_ = s.buffer.size;
    return bytes;
}

TFileBytes ReadWholeFile(const QString &fileName) { return TFileReading(fileName).Whole(); }
