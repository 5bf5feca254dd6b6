// Whole files read into memory with plain system calls.
#include "platform/files/file_reading.h"

#include "platform/base/huge_pages.h"
#include "platform/base/work_progress.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Regular files are read in pieces of this size, each reported as progress.
constexpr std::size_t ReadPiece = std::size_t(16) << 20;

constexpr std::size_t MiB = std::size_t(1) << 20;

[[noreturn]] void Refuse(const QString &reason) { throw Exception(reason); }

struct TGrowingBuffer {
    struct FreeDeleter {
        void operator()(std::uint8_t *p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> data;
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

bool SameTime(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

const QString Changed = QStringLiteral("the file changed while it was being read; open it again once it is written");

// A regular file of a stated size: exactly that many bytes, and the file
// must end there and keep its size and time throughout.
void ReadRegular(int fd, const struct stat &before, TGrowingBuffer &buffer)
{
    const std::size_t size = static_cast<std::size_t>(before.st_size);
    buffer.Reserve(size);
    // Written whole right away: faulting it in by 4 KiB pages would cost
    // more than the reading itself.
    PreferHugePages(buffer.data.get(), size);
    while (buffer.size < size) {
        const std::size_t piece = std::min(ReadPiece, size - buffer.size);
        const ssize_t got = ::read(fd, buffer.data.get() + buffer.size, piece);
        if (got < 0) {
            if (errno == EINTR) continue;
            Refuse(SystemReason(errno));
        }
        if (got == 0) Refuse(Changed);
        buffer.size += static_cast<std::size_t>(got);
        ReportProgress(buffer.size, size);
    }
    std::uint8_t beyond;
    ssize_t more;
    do more = ::read(fd, &beyond, 1);
    while (more < 0 && errno == EINTR);
    struct stat after;
    if (more != 0 || ::fstat(fd, &after) != 0 || after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))
        Refuse(Changed);
}

} // namespace

TFileBytes ReadWholeFile(const QString &fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat named;
    if (::stat(path.constData(), &named) == 0) {
        if (S_ISBLK(named.st_mode)) Refuse(QStringLiteral("it is a disk device, not a picture file"));
        if (S_ISSOCK(named.st_mode)) Refuse(QStringLiteral("it is a socket, not a picture file"));
    }
    // Non-blocking: opening a pipe must not wait for a writer.
    TDescriptor fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) Refuse(QStringLiteral("the file does not exist"));
        Refuse(SystemReason(errno));
    }
    struct stat before;
    if (::fstat(fd.Get(), &before) != 0) Refuse(SystemReason(errno));
    if (S_ISDIR(before.st_mode)) Refuse(QStringLiteral("it is a folder, not a file"));
    if (S_ISBLK(before.st_mode)) Refuse(QStringLiteral("it is a disk device, not a picture file"));
    if (S_ISREG(before.st_mode) && static_cast<std::uint64_t>(before.st_size) > MaxFileBytes)
        Refuse(QStringLiteral("the file takes %1 MiB, more than any picture file this program reads (%2 MiB)")
                   .arg((static_cast<std::uint64_t>(before.st_size) + MiB - 1) / MiB)
                   .arg(MaxFileBytes / MiB));
    TGrowingBuffer buffer;
    if (S_ISREG(before.st_mode) && before.st_size > 0)
        ReadRegular(fd.Get(), before, buffer);
    else
        ReadStream(fd.Get(), buffer);
    if (buffer.size == 0) {
        if (S_ISFIFO(before.st_mode)) Refuse(QStringLiteral("it is a pipe, and nothing was written to it"));
        Refuse(QStringLiteral("the file is empty"));
    }
    TFileBytes bytes;
    bytes.data_.reset(buffer.data.release());
    bytes.size_ = buffer.size;
    return bytes;
}
