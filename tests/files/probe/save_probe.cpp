// Saves a picture over a file and, at a chosen step of the writing, dies
// (SIGKILL, as from outside), fails once (EIO) or is cancelled: the tests
// of killed, failed and cancelled saves run it for every step in turn.
//
//   save_probe <picture> <target> [die-before|die-during|fail|fail-from|cancel <step>]
//              [--as-nobody] [--attributes-refused]
//
// A step is one call that changes a file or folder: every write (of one
// buffer or of many pieces), sync, truncation, reservation, copy, removal,
// rename and attribute. The calls
// are caught by defining them here, before the C library: the program's
// own code and Qt's both reach these. "die-during" lets half of a write
// through first; "fail" fails the call if it writes, syncs or reserves (a
// removal, rename or link goes through), "fail-from" every such call from
// the step on. --as-nobody saves as the user nobody when run as root;
// --attributes-refused refuses every extended attribute given to a file.
//
// Prints one line: saved, cancelled or failed; steps=<calls made>;
// first-change=<the step after which the target first differed>;
// cancel=<accepted, refused or none>; then a failure's message.
#include "platform/base/work_progress.h"
#include "platform/files/picture_files.h"
#include "support/failures.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

enum class TMode { None, DieBefore, DieDuring, Fail, FailFrom, Cancel };

struct {
    bool armed = false;
    TMode mode = TMode::None;
    int at = 0;
    int step = 0;
    int firstChange = 0;
    bool attributesRefused = false;
    const char *cancel = "none";
    TWorkProgress *progress = nullptr;
    QByteArray target;
    struct stat before {};
} probe;

// What the chosen step does to the call about to be made.
enum class TAct { Go, Fail, HalfThenDie, DieAfter };

[[noreturn]] void Die()
{
    ::raise(SIGKILL);
    std::_Exit(99);
}

TAct Before(bool data)
{
    if (!probe.armed) return TAct::Go;
    ++probe.step;
    if (probe.mode == TMode::FailFrom && probe.step >= probe.at) return TAct::Fail;
    if (probe.step != probe.at) return TAct::Go;
    switch (probe.mode) {
    case TMode::DieBefore: Die();
    case TMode::DieDuring: return data ? TAct::HalfThenDie : TAct::DieAfter;
    case TMode::Fail: return TAct::Fail;
    case TMode::Cancel: probe.cancel = probe.progress->Cancel() ? "accepted" : "refused"; return TAct::Go;
    case TMode::FailFrom:
    case TMode::None: break;
    }
    return TAct::Go;
}

void After()
{
    if (!probe.armed || probe.firstChange) return;
    struct stat now {};
    const bool gone = ::stat(probe.target.constData(), &now) != 0;
    if (gone || now.st_ino != probe.before.st_ino || now.st_size != probe.before.st_size ||
        now.st_mtim.tv_sec != probe.before.st_mtim.tv_sec || now.st_mtim.tv_nsec != probe.before.st_mtim.tv_nsec)
        probe.firstChange = probe.step;
}

template <class Function>
Function Real(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// One call that changes no bytes' worth: made, failed, or made and died
// after. A call that names files is not failed.
enum class TCall { Failable, Naming };

template <class Call>
int Change(Call call, TCall kind = TCall::Failable)
{
    const TAct act = Before(false);
    if (act == TAct::Fail && kind == TCall::Failable) {
        errno = EIO;
        return -1;
    }
    const int result = call();
    if (act == TAct::DieAfter) Die();
    After();
    return result;
}

// A call that writes `size` bytes: `call(n)` writes the first n of them.
template <class Call>
ssize_t Data(std::size_t size, Call call)
{
    const TAct act = Before(size > 1);
    if (act == TAct::Fail) {
        errno = EIO;
        return -1;
    }
    if (act == TAct::HalfThenDie) {
        (void)call(size / 2);
        Die();
    }
    const ssize_t result = call(size);
    if (act == TAct::DieAfter) Die();
    After();
    return result;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *bytes, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, const void *, size_t)>("write");
    return Data(size, [&](std::size_t n) { return real(fd, bytes, n); });
}

// Pieces written in one call: `n` bytes of them are the first pieces, the
// last of them cut short.
ssize_t writev(int fd, const struct iovec *pieces, int count)
{
    static const auto real = Real<ssize_t (*)(int, const struct iovec *, int)>("writev");
    std::size_t size = 0;
    for (int i = 0; i < count; ++i) size += pieces[i].iov_len;
    return Data(size, [&](std::size_t n) {
        std::vector<iovec> first;
        for (int i = 0; i < count && n > 0; ++i) {
            first.push_back({pieces[i].iov_base, std::min(n, pieces[i].iov_len)});
            n -= first.back().iov_len;
        }
        return real(fd, first.data(), static_cast<int>(first.size()));
    });
}

ssize_t pwrite(int fd, const void *bytes, size_t size, off_t at)
{
    static const auto real = Real<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    return Data(size, [&](std::size_t n) { return real(fd, bytes, n, at); });
}

ssize_t copy_file_range(int from, off64_t *fromAt, int to, off64_t *toAt, size_t size, unsigned int flags)
{
    static const auto real = Real<ssize_t (*)(int, off64_t *, int, off64_t *, size_t, unsigned int)>("copy_file_range");
    return Data(size, [&](std::size_t n) { return real(from, fromAt, to, toAt, n, flags); });
}

int fsync(int fd)
{
    static const auto real = Real<int (*)(int)>("fsync");
    return Change([&] { return real(fd); });
}

int fdatasync(int fd)
{
    static const auto real = Real<int (*)(int)>("fdatasync");
    return Change([&] { return real(fd); });
}

int ftruncate(int fd, off_t size) noexcept
{
    static const auto real = Real<int (*)(int, off_t)>("ftruncate");
    return Change([&] { return real(fd, size); });
}

int fallocate(int fd, int mode, off_t at, off_t size)
{
    static const auto real = Real<int (*)(int, int, off_t, off_t)>("fallocate");
    return Change([&] { return real(fd, mode, at, size); });
}

// Gives the error itself rather than setting errno.
int posix_fallocate(int fd, off_t at, off_t size)
{
    static const auto real = Real<int (*)(int, off_t, off_t)>("posix_fallocate");
    const int result = Change([&] { return real(fd, at, size) == 0 ? 0 : -1; });
    return result == 0 ? 0 : EIO;
}

int unlink(const char *path) noexcept
{
    static const auto real = Real<int (*)(const char *)>("unlink");
    return Change([&] { return real(path); }, TCall::Naming);
}

int unlinkat(int folder, const char *path, int flags) noexcept
{
    static const auto real = Real<int (*)(int, const char *, int)>("unlinkat");
    return Change([&] { return real(folder, path, flags); }, TCall::Naming);
}

int rename(const char *from, const char *to) noexcept
{
    static const auto real = Real<int (*)(const char *, const char *)>("rename");
    return Change([&] { return real(from, to); }, TCall::Naming);
}

int renameat(int fromFolder, const char *from, int toFolder, const char *to) noexcept
{
    static const auto real = Real<int (*)(int, const char *, int, const char *)>("renameat");
    return Change([&] { return real(fromFolder, from, toFolder, to); }, TCall::Naming);
}

int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned int flags) noexcept
{
    static const auto real = Real<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2");
    return Change([&] { return real(fromFolder, from, toFolder, to, flags); }, TCall::Naming);
}

int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags) noexcept
{
    static const auto real = Real<int (*)(int, const char *, int, const char *, int)>("linkat");
    return Change([&] { return real(fromFolder, from, toFolder, to, flags); }, TCall::Naming);
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags) noexcept
{
    static const auto real = Real<int (*)(int, const char *, const void *, size_t, int)>("fsetxattr");
    return Change([&] {
        if (!probe.attributesRefused) return real(fd, name, value, size, flags);
        errno = ENOTSUP;
        return -1;
    });
}

} // extern "C"

int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    const QString picture = QFile::decodeName(argv[1]), target = QFile::decodeName(argv[2]);
    bool asNobody = false;
    for (int i = 3; i < argc; ++i) {
        const QByteArray word = argv[i];
        static const struct {
            const char *name;
            TMode mode;
        } modes[] = {{"die-before", TMode::DieBefore}, {"die-during", TMode::DieDuring}, {"fail", TMode::Fail},
                         {"fail-from", TMode::FailFrom}, {"cancel", TMode::Cancel}};
        for (const auto &m : modes)
            if (word == m.name && i + 1 < argc) {
                probe.mode = m.mode;
                probe.at = std::atoi(argv[++i]);
            }
        if (word == "--as-nobody") asNobody = true;
        if (word == "--attributes-refused") probe.attributesRefused = true;
    }
    TBitmap bitmap;
    ReadPictureFile(picture, bitmap);
    if (asNobody && !BecomeUnprivilegedUser()) return 3;
    probe.target = QFile::encodeName(target);
    if (::stat(probe.target.constData(), &probe.before) != 0) return 4;

    TWorkProgress progress;
    probe.progress = &progress;
    const char *outcome = "saved";
    QString message;
    {
        TWorkScope scope(progress);
        probe.armed = true;
        try {
            WritePictureFile(target, bitmap);
        } catch (const ECancelled &) {
            outcome = "cancelled";
        } catch (const Exception &error) {
            outcome = "failed";
            message = error.Message();
        }
        probe.armed = false;
    }
    std::printf("%s steps=%d first-change=%d cancel=%s\n%s\n", outcome, probe.step, probe.firstChange, probe.cancel,
                message.toLocal8Bit().constData());
    return 0;
}
