// Picture files written over where they are, with plain system calls.
#include "platform/files/disk/file_writing.h"

#include "platform/base/work_progress.h"
#include "platform/files/disk/kept_copy.h"
#include "platform/files/disk/system_calls.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// The new bytes are written in pieces of this size.
constexpr std::size_t WritePiece = std::size_t(16) << 20;

[[noreturn]] void Refuse(const QString &reason) { throw Exception(reason); }

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
        const ssize_t wrote = ::pwrite(fd, bytes.constData() + done, std::min(size - done, WritePiece), static_cast<off_t>(done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) Refuse(SystemReason(wrote < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(wrote);
    }
    if (newSize < oldSize && ::ftruncate(fd, newSize) != 0) Refuse(SystemReason(errno));
    if (::fsync(fd) != 0 && errno != EINVAL) Refuse(SystemReason(errno));
}

} // namespace

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
