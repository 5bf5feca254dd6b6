// A copy of a file's old bytes, kept while the file is written over.
#include "platform/files/disk/kept_copy.h"

#include "platform/base/work_progress.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Copied in pieces, a cancel seen between them.
constexpr std::size_t Piece = std::size_t(16) << 20;

[[noreturn]] void Refuse(int error) { throw Exception(SystemReason(error)); }

// Copies the first `size` bytes of `from` over the start of `to`: in the
// kernel where it can (a file system that shares blocks copies none), else
// through memory. Throws Exception with the reason alone.
void CopyBytes(int from, int to, std::uint64_t size)
{
    off_t in = 0, out = 0;
    bool inKernel = true;
    std::vector<char> buffer;
    while (static_cast<std::uint64_t>(in) < size) {
        CheckCancelled();
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(Piece, size - static_cast<std::uint64_t>(in)));
        if (inKernel) {
            const ssize_t copied = ::copy_file_range(from, &in, to, &out, piece, 0);
            if (copied > 0 || (copied < 0 && errno == EINTR)) continue;
            // Between file systems, or where the kernel cannot: through memory.
            if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) Refuse(errno);
            inKernel = false;
        }
        buffer.resize(piece);
        const ssize_t got = ::pread(from, buffer.data(), piece, in);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Refuse(errno);
        if (got == 0) throw Exception(QStringLiteral("the file was cut short while it was being copied"));
        for (ssize_t done = 0; done < got;) {
            const ssize_t wrote = ::pwrite(to, buffer.data() + done, static_cast<std::size_t>(got - done), out);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) Refuse(wrote < 0 ? errno : ENOSPC);
            done += wrote;
            out += wrote;
        }
        in += got;
    }
}

} // namespace

TKeptCopy::TKeptCopy(const QString &fileName, int from, std::uint64_t size) : size_(size)
{
    const QString beside = QFileInfo(fileName).absolutePath();
    QStringList places;
    if (::faccessat(AT_FDCWD, QFile::encodeName(beside).constData(), W_OK, AT_EACCESS) == 0) places << beside;
    places << UnfinishedSavesFolder();
    // Where each place failed, told all together when none would do.
    QStringList failures;
    const auto failure = [&](const QString &place, const Exception &error) {
        failures << QStringLiteral("in %1, %2").arg(QuotedPath(place), error.Message());
        return Exception(QStringLiteral("a copy of the old file could not be kept while it is written over: ") +
                         failures.join(QStringLiteral("; ")));
    };
    for (const QString &place : places) {
        path_ = CopyNameFor(place, fileName);
        try {
            record_ = std::make_unique<TSaveRecord>(fileName, path_, size);
        } catch (const Exception &error) {
            // Without a record, a copy left by a kill would never be told of.
            throw failure(UnfinishedSavesFolder(), error);
        }
        try {
            Make(from);
            return;
        } catch (const ECancelled &) {
            throw;
        } catch (const Exception &error) {
            record_.reset();
            const Exception told = failure(place, error);
            if (place == places.back()) throw told;
        }
    }
}

void TKeptCopy::Make(int from) const
{
    const QByteArray name = QFile::encodeName(path_);
    TDescriptor copy(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (copy.Get() < 0) Refuse(errno);
    try {
        // Its space first: a full disk is told before a byte is copied.
        if (size_ > 0 && ::fallocate(copy.Get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size_)) != 0 && errno != EOPNOTSUPP)
            Refuse(errno);
        CopyBytes(from, copy.Get(), size_);
        if (::fsync(copy.Get()) != 0) Refuse(errno);
        if (const int error = copy.Close()) Refuse(error);
        const TDescriptor folder(::open(QFile::encodeName(QFileInfo(path_).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Get() < 0) Refuse(errno);
        if (const int error = SyncFolder(folder.Get())) Refuse(error);
    } catch (...) {
        ::unlink(name.constData());
        throw;
    }
}

TKeptCopy::~TKeptCopy()
{
    // The copy goes before its record: a kill in between leaves a record of
    // no copy, which the next start clears away.
    if (!kept_) ::unlink(QFile::encodeName(path_).constData());
}

bool TKeptCopy::PutBack(int to) const
{
    const TDescriptor copy(::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC));
    if (copy.Get() < 0) return false;
    try {
        CopyBytes(copy.Get(), to, size_);
    } catch (const Exception &) {
        return false;
    }
    return ::ftruncate(to, static_cast<off_t>(size_)) == 0 && ::fsync(to) == 0;
}

const QString &TKeptCopy::Keep()
{
    kept_ = true;
    record_.reset();
    return path_;
}
