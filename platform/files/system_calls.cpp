// Plain system calls on files and folders.
#include "platform/files/system_calls.h"

#include "platform/files/file_bytes.h"

#include <cerrno>
#include <cstring>

QString SystemReason(int error) { return SystemWording(QString::fromLocal8Bit(std::strerror(error))); }

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
