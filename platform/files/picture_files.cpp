// Reading and writing picture files.
#include "platform/files/picture_files.h"

#include "platform/base/work_progress.h"
#include "platform/files/disk/file_reading.h"
#include "platform/files/disk/file_writing.h"
#include "platform/files/file_sink.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/disk/system_calls.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char *action, const AnsiString &fileName, const QString &reason)
{
    throw Exception(QStringLiteral("Cannot %1 %2: %3").arg(QLatin1String(action), QuotedPath(fileName), reason));
}

// A path the system cannot take whole would otherwise be reported as a
// folder or file that does not exist.
void CheckPathLength(const char *action, const AnsiString &fileName)
{
    // As the system sees it: Qt's absolute path would drop "." and "..".
    const QString absolute = QDir::isAbsolutePath(fileName) ? fileName : QDir::currentPath() + QLatin1Char('/') + fileName;
    const qsizetype bytes = QFile::encodeName(absolute).size();
    if (bytes >= PATH_MAX)
        Fail(action, fileName, QStringLiteral("the name is too long: its path takes %1 bytes, and the system takes at most %2")
                                   .arg(bytes)
                                   .arg(PATH_MAX - 1));
}

// A folder on the way that the user may not enter makes the file look
// missing (QFileInfo::exists is false for it too): said as the system says
// it, naming that folder.
void CheckFoldersMayBeEntered(const char *action, const AnsiString &fileName)
{
    const QString absolute = QDir::isAbsolutePath(fileName) ? fileName : QDir::currentPath() + QLatin1Char('/') + fileName;
    struct stat st;
    if (::stat(QFile::encodeName(absolute).constData(), &st) == 0 || errno != EACCES) return;
    // The first folder from the top that cannot be searched is the one.
    for (qsizetype end = absolute.indexOf(QLatin1Char('/'), 1); end > 0; end = absolute.indexOf(QLatin1Char('/'), end + 1)) {
        const QString folder = absolute.left(end);
        if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), X_OK, AT_EACCESS) != 0 && errno == EACCES)
            Fail(action, fileName, QStringLiteral("permission denied: the folder %1 may not be entered").arg(QuotedPath(QDir::cleanPath(folder))));
    }
    Fail(action, fileName, QStringLiteral("permission denied"));
}

// Runs a step of an opening or a save, its failure told the one way:
// `Cannot <action> "<path>": <reason>`; where the step takes much memory,
// running out of it is told as a lack of memory for `use`. A cancel passes
// as it is.
template <class Step>
auto Attempt(const char *action, const AnsiString &fileName, std::optional<TMemoryUse> use, Step &&step) -> decltype(step())
{
    try {
        return step();
    } catch (const ECancelled &) {
        throw;
    } catch (const Exception &error) {
        Fail(action, fileName, error.Message());
    } catch (const std::bad_alloc &) {
        if (!use) throw;
        Fail(action, fileName, NotEnoughMemoryTo(*use));
    }
}

// QSaveFile often loses the system's reason ("Unknown error") or words it
// with the path: the usual causes are told from the file system itself.
QString SaveFailure(const QFileInfo &target, const QString &qtReason, qint64 bytes)
{
    const QStorageInfo storage(target.absolutePath());
    if (storage.isValid() && storage.isReadOnly()) return QStringLiteral("read-only file system");
    if (target.exists() && !target.isWritable()) return QStringLiteral("the file is read-only");
    // Replacing goes through a name 7 bytes longer than the target's.
    if (target.exists() && QFile::encodeName(target.fileName()).size() > 255 - 7)
        return QStringLiteral("the file name is too long to replace the file safely; save under a shorter name");
    // A file system of no storage (/proc, /sys) has no space to run out of.
    if (storage.isValid() && storage.bytesTotal() > 0 && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < bytes)
        return QStringLiteral("no space left on device (the file takes %1 KiB, %2 KiB are free)")
            .arg((bytes + 1023) / 1024)
            .arg(storage.bytesAvailable() / 1024);
    return qtReason;
}

// The new file beside the target, made once the writer knows the file's
// size, so that a picture the writer refuses leaves no file behind; its
// bytes written with plain system calls (WritePieces). Remembers the
// system's reason when making or writing it failed, which the writer's own
// refusals are not.
class TNewFile final : public TFileSink {
public:
    explicit TNewFile(const QString &fileName) : file_(fileName) {}

    void Begin(std::uint64_t bytes) override
    {
        bytes_ = bytes;
        if (!file_.open(QIODevice::WriteOnly)) Refuse(SystemWording(file_.errorString()));
    }
    void Write(std::span<const std::span<const std::uint8_t>> pieces) override
    {
        // Written past Qt's buffer, which holds nothing: QSaveFile only
        // names, syncs and commits the file.
        if (const int error = WritePieces(file_.handle(), pieces)) Refuse(SystemReason(error));
    }

    QSaveFile &File() { return file_; }
    std::uint64_t Bytes() const { return bytes_; }
    const QString &Failure() const { return failure_; }

private:
    [[noreturn]] void Refuse(const QString &reason)
    {
        failure_ = reason;
        throw Exception(reason);
    }

    QSaveFile file_;
    std::uint64_t bytes_ = 0;
    QString failure_;
};

} // namespace

void ReadPictureFile(const AnsiString &fileName, TBitmap &into)
{
    if (fileName.isEmpty()) Fail("open", fileName, QStringLiteral("no file name was given"));
    std::optional<TFileReading> reading;
    try {
        reading.emplace(fileName);
    } catch (const ECancelled &) {
        throw;
    } catch (const std::bad_alloc &) {
        Fail("open", fileName, NotEnoughMemoryTo(TMemoryUse::ReadingTheFile));
    } catch (const Exception &error) {
        // What the path says comes before the system's reason (a name too
        // long, a folder that may not be entered, a folder, no file): asked
        // only of a file that did not open, as one that opens passes it all.
        CheckPathLength("open", fileName);
        CheckFoldersMayBeEntered("open", fileName);
        const QFileInfo info(fileName);
        if (info.isDir()) Fail("open", fileName, QStringLiteral("it is a folder, not a file"));
        if (!info.exists()) Fail("open", fileName, QStringLiteral("the file does not exist"));
        Fail("open", fileName, error.Message());
    }
    // Read straight into the picture where its format allows, else whole
    // into memory of its own: decoding from a mapping would end the program
    // if another one cut the file short meanwhile.
    TFileBytes file;
    std::optional<TRowsMissing> missing = Attempt("open", fileName, TMemoryUse::ReadingTheFile, [&] {
        std::optional<TRowsMissing> read;
        if (reading->Regular()) read = ReadPictureStraight(*reading, into);
        if (!read) file = reading->Whole();
        return read;
    });
    reading.reset();
    if (!missing)
        missing = Attempt("open", fileName, TMemoryUse::ReadingThePicture, [&] { return DecodePicture(file.Bytes(), into); });
    if (missing->missing > 0)
        throw EPictureIncomplete(QStringLiteral("The file %1 ends early: %2 of its %3 rows are missing. The rows it holds are shown.")
                                     .arg(QuotedPath(fileName))
                                     .arg(missing->missing)
                                     .arg(missing->rows));
}

void WritePictureFile(const AnsiString &fileName, const TBitmap &bitmap)
{
    if (fileName.isEmpty()) Fail("save", fileName, QStringLiteral("no file name was given"));
    if (bitmap.Empty()) Fail("save", fileName, QStringLiteral("there is no picture to save"));
    CheckPathLength("save", fileName);
    CheckFoldersMayBeEntered("save", fileName);
    const QFileInfo info(fileName);
    if (info.isDir()) Fail("save", fileName, QStringLiteral("it is a folder, not a file"));
    if (!info.absoluteDir().exists()) {
        if (QFileInfo::exists(info.absolutePath()))
            Fail("save", fileName, QStringLiteral("%1 is a file, not a folder").arg(QuotedPath(info.absolutePath())));
        Fail("save", fileName, QStringLiteral("the folder %1 does not exist").arg(QuotedPath(info.absolutePath())));
    }
    const std::optional<TPictureFileFormat> format = PictureFileFormatFor(fileName);
    if (!format)
        Fail("save", fileName, QStringLiteral("this program cannot write \".%1\" files; it writes %2 pictures")
                                   .arg(info.suffix(), WritablePictureFormats()));
    // Devices and pipes cannot be replaced by renaming a finished file over
    // them (that would swap a device node for a regular file), nor can a
    // file whose other names, owner or mode bits a new file would not keep:
    // those are written in place.
    const bool special = info.exists() && !info.isFile();
    const bool inPlace = !special && MustWriteInPlace(fileName);
    // Encoded whole before anything is written, unless the format goes into
    // a new file as it is encoded: a failed encoding then touches nothing.
    std::optional<QByteArray> encoded;
    const auto encodeWhole = [&]() -> const QByteArray & {
        if (!encoded) encoded = Attempt("save", fileName, TMemoryUse::EncodingThePicture, [&] { return EncodePicture(bitmap, *format); });
        return *encoded;
    };
    if (special || inPlace || !WritesStraight(*format)) encodeWhole();
    const auto writeInPlace = [&] {
        const QByteArray &bytes = encodeWhole();
        Attempt("save", fileName, std::nullopt, [&] { WriteInPlace(fileName, bytes); });
    };
    if (special) return Attempt("save", fileName, std::nullopt, [&] { WriteToSpecialFile(fileName, *encoded); });
    if (inPlace) return writeInPlace();
    // The target is replaced only once every byte is on disk; on failure,
    // and when cancelled before the commit, QSaveFile removes its
    // unfinished file.
    QString reason;
    bool attributesKept = true;
    std::uint64_t bytes = 0;
    {
        TNewFile newFile(fileName);
        QSaveFile &file = newFile.File();
        try {
            if (encoded) {
                const std::span<const std::uint8_t> whole(reinterpret_cast<const std::uint8_t *>(encoded->constData()), static_cast<std::size_t>(encoded->size()));
                newFile.Begin(whole.size());
                newFile.Write({&whole, 1});
            } else {
                WritePictureStraight(bitmap, *format, newFile);
            }
        } catch (const ECancelled &) {
            throw;
        } catch (const std::bad_alloc &) {
            Fail("save", fileName, NotEnoughMemoryTo(TMemoryUse::EncodingThePicture));
        } catch (const Exception &error) {
            // The writer's own refusal, before the file was made.
            if (newFile.Failure().isEmpty()) Fail("save", fileName, error.Message());
            reason = newFile.Failure();
        }
        bytes = newFile.Bytes();
        if (!reason.isEmpty()) {
            file.cancelWriting();
        } else if (::fsync(file.handle()) != 0) {
            // Synced while a cancel is still taken, so that the commit's own
            // sync, past the point of no return, has little left to do.
            reason = SystemReason(errno);
            file.cancelWriting();
        } else {
            // The new file would lose the old one's tags, the address it was
            // downloaded from and its access list, all extended attributes.
            attributesKept = CopyExtendedAttributes(fileName, file.handle());
            if (!attributesKept) {
                file.cancelWriting();
            } else {
                // The commit replaces the file: from here on the save
                // finishes or fails, and a cancel is refused.
                BeginFinishing();
                if (file.commit()) return;
                reason = SystemWording(file.errorString());
            }
        }
    }
    // An attribute that cannot be given to a new file stays with the old one.
    if (!attributesKept) return writeInPlace();
    // Told once the unfinished file is gone and its space free again.
    Fail("save", fileName, SaveFailure(info, reason, static_cast<qint64>(bytes)));
}
