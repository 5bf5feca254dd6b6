// Whole files read into memory and written out with plain system calls.
#include "platform/files/file_bytes.h"

#include "platform/files/kept_copy.h"
#include "platform/files/system_calls.h"
#include "platform/pictures/huge_pages.h"
#include "platform/pictures/work_progress.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

QString SystemWording(const QString &text)
{
    if (text.isEmpty()) return QStringLiteral("the system gave no reason");
    // An initial capital starts a sentence; a name in capitals ("EOF") stays.
    if (text.size() > 1 && text[0].isUpper() && !text[1].isUpper()) return text[0].toLower() + text.mid(1);
    return text;
}

namespace {

// How long one wait for a pipe or device lasts: short, so that a cancel
// is seen soon.
constexpr int StepMilliseconds = 100;
// Regular files are read in pieces of this size, each reported as progress.
constexpr std::size_t ReadPiece = std::size_t(16) << 20;

constexpr std::size_t MiB = std::size_t(1) << 20;

[[noreturn]] void Refuse(const QString &reason) { throw Exception(reason); }

// Waits at most one step for the descriptor to be ready; counts the time
// it stayed idle and gives up once IdleSecondsAllowed have passed so.
void WaitForReady(int fd, short events, int &idleMilliseconds, const char *doing)
{
    CheckCancelled();
    pollfd wanted{fd, events, 0};
    const int ready = ::poll(&wanted, 1, StepMilliseconds);
    if (ready < 0 && errno != EINTR) Refuse(SystemReason(errno));
    if (ready > 0) return;
    idleMilliseconds += StepMilliseconds;
    if (idleMilliseconds >= IdleSecondsAllowed * 1000)
        Refuse(QStringLiteral("nothing could be %1 it for %2 seconds").arg(QLatin1String(doing)).arg(IdleSecondsAllowed));
    CheckCancelled();
}

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

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end
// the program: it is held back on this thread while writing, and a signal
// raised meanwhile is taken before it is let through again.
class TPipeSignalHeld {
public:
    TPipeSignalHeld()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~TPipeSignalHeld()
    {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &none) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    TPipeSignalHeld(const TPipeSignalHeld &) = delete;
    TPipeSignalHeld &operator=(const TPipeSignalHeld &) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
};

QString WriteReason(int error)
{
    if (error == EPIPE) return QStringLiteral("the program reading from the pipe stopped reading");
    return SystemReason(error);
}

// Replaces the open file's oldSize bytes with bytes, synced. Every block the
// new bytes need is reserved before the first old byte is touched. Throws
// Exception with the reason alone.
void Overwrite(int fd, const QByteArray &bytes, off_t oldSize)
{
    const off_t newSize = static_cast<off_t>(bytes.size());
    if (newSize > oldSize) {
        const int error = ::posix_fallocate(fd, 0, newSize);
        if (error != 0 && error != EOPNOTSUPP) Refuse(SystemReason(error));
    }
    std::size_t done = 0;
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    while (done < size) {
        const ssize_t wrote = ::pwrite(fd, bytes.constData() + done, std::min(size - done, ReadPiece), static_cast<off_t>(done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) Refuse(SystemReason(wrote < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(wrote);
    }
    if (newSize < oldSize && ::ftruncate(fd, newSize) != 0) Refuse(SystemReason(errno));
    if (::fsync(fd) != 0 && errno != EINVAL) Refuse(SystemReason(errno));
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

void WriteToSpecialFile(const QString &fileName, const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(fileName);
    // Non-blocking: a pipe without a reader fails at once instead of waiting.
    TDescriptor fd(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENXIO) Refuse(QStringLiteral("it is a pipe, and no program is reading from it"));
        Refuse(SystemReason(errno));
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) Refuse(SystemReason(errno));
    if (S_ISBLK(st.st_mode)) Refuse(QStringLiteral("it is a disk device, not a picture file"));
    const TPipeSignalHeld held;
    // A device or pipe keeps no old bytes to go back to: past this point the
    // save can only finish or fail.
    BeginFinishing();
    std::size_t done = 0;
    int idle = 0;
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    while (done < size) {
        const ssize_t wrote = ::write(fd.Get(), bytes.constData() + done, size - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) Refuse(WriteReason(errno));
            WaitForReady(fd.Get(), POLLOUT, idle, "written to");
            continue;
        }
        if (wrote == 0) Refuse(QStringLiteral("the device takes no more bytes"));
        idle = 0;
        done += static_cast<std::size_t>(wrote);
        ReportProgress(done, size);
    }
    if (const int error = fd.Close()) Refuse(WriteReason(error));
}

bool MustWriteInPlace(const QString &fileName)
{
    struct stat st;
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_nlink > 1) return true;
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) return true;
    if (st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) return true;
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    return ::faccessat(AT_FDCWD, folder.constData(), W_OK, AT_EACCESS) != 0 && errno != EROFS;
}

bool CopyExtendedAttributes(const QString &fromFile, int to)
{
    const QByteArray path = QFile::encodeName(fromFile);
    ssize_t listed = ::listxattr(path.constData(), nullptr, 0);
    // A file that is not there yet, or a file system without them, has none.
    if (listed < 0) return errno == ENOENT || errno == ENOTSUP;
    std::vector<char> names(static_cast<std::size_t>(listed));
    listed = ::listxattr(path.constData(), names.data(), names.size());
    if (listed < 0) return false;
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(listed); at += std::strlen(names.data() + at) + 1) {
        const char *name = names.data() + at;
        const ssize_t size = ::getxattr(path.constData(), name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::getxattr(path.constData(), name, value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0) return false;
    }
    return true;
}

void WriteInPlace(const QString &fileName, const QByteArray &bytes)
{
    // Read as well as written: its old bytes are copied aside first.
    TDescriptor fd(::open(QFile::encodeName(fileName).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) Refuse(SystemReason(errno));
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) Refuse(SystemReason(errno));
    if (!S_ISREG(st.st_mode)) Refuse(QStringLiteral("it is no longer a regular file"));
    CheckCancelled();
    const off_t oldSize = st.st_size;
    TKeptCopy old(fileName, fd.Get(), static_cast<std::uint64_t>(oldSize));
    // The old bytes are safe elsewhere, and the first of them is about to be
    // replaced: from here on the save finishes, or fails and puts them back.
    BeginFinishing();
    try {
        Overwrite(fd.Get(), bytes, oldSize);
    } catch (const Exception &error) {
        if (old.PutBack(fd.Get())) throw;
        Refuse(error.Message() + QStringLiteral("; the file is now incomplete, and its old picture is kept in %1").arg(QuotedPath(old.Keep())));
    }
}
