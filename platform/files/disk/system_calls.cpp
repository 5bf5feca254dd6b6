// Plain system calls on files and folders.
#include "platform/files/disk/system_calls.h"

#include "platform/base/work_progress.h"

#include <cerrno>
#include <cstring>
#include <poll.h>

namespace {

// How long one wait for a pipe or device lasts: short, so that a cancel
// is seen soon.
constexpr int StepMilliseconds = 100;

// The most one call of WritePieces writes.
constexpr std::size_t WriteCallBytes = std::size_t(8) << 20;

} // namespace

QString SystemReason(int error) { return SystemWording(QString::fromLocal8Bit(std::strerror(error))); }

void WaitForReady(int fd, short events, int &idleMilliseconds, const char *doing)
{
    CheckCancelled();
    pollfd wanted{fd, events, 0};
    const int ready = ::poll(&wanted, 1, StepMilliseconds);
    if (ready < 0 && errno != EINTR) throw Exception(SystemReason(errno));
    if (ready > 0) return;
    idleMilliseconds += StepMilliseconds;
    if (idleMilliseconds >= IdleSecondsAllowed * 1000)
        throw Exception(QStringLiteral("nothing could be %1 it for %2 seconds").arg(QLatin1String(doing)).arg(IdleSecondsAllowed));
    CheckCancelled();
}

int TDescriptor::Close()
{
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
}

int SyncFolder(int folder)
{
    if (::fsync(folder) == 0 || errno == EINVAL || errno == EROFS) return 0;
    return errno;
}

int WriteFully(int fd, const void *bytes, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, static_cast<const char *>(bytes) + done, size - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return errno;
        if (wrote == 0) return ENOSPC;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

int WritePieces(int fd, std::span<const std::span<const std::uint8_t>> pieces)
{
    for (TPieceCursor<const std::uint8_t> cursor(pieces); !cursor.Done();) {
        CheckCancelled();
        const std::vector<iovec> &vectors = cursor.Next(WriteCallBytes);
        ssize_t wrote;
        do wrote = ::writev(fd, vectors.data(), static_cast<int>(vectors.size()));
        while (wrote < 0 && errno == EINTR);
        if (wrote < 0) return errno;
        if (wrote == 0) return ENOSPC;
        cursor.Advance(static_cast<std::size_t>(wrote));
    }
    return 0;
}
