// Records of saves in place while they run, and what a killed one left.
#include "platform/files/disk/unfinished_saves.h"

#include "platform/base/strings_and_errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

// What a record says, in this order, each field ended by a zero byte: a
// record cut short by a kill while it was written lacks its last zero.
const QByteArray RecordMark = QByteArrayLiteral("picture-workbench save in place");

struct TRecorded {
    QString file;
    QString copy;
    qint64 oldSize = 0;
};

QString RandomLetters(int count)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < count; ++i) text += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
    return text;
}

// Copies are removed only under a name this program gives them, whatever
// a record says.
bool IsCopyName(const QString &path)
{
    static const QRegularExpression name(QStringLiteral("^\\..*\\.old-[A-Za-z0-9]{6}(\\..*)?$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    return name.match(QFileInfo(path).fileName()).hasMatch();
}

// The folder, made private to the user where it is missing; its descriptor.
int OpenedFolder()
{
    const QString folder = UnfinishedSavesFolder();
    QDir().mkpath(QFileInfo(QFileInfo(folder).path()).path());
    for (const QString &level : {QFileInfo(folder).path(), folder})
        if (::mkdir(QFile::encodeName(level).constData(), 0700) != 0 && errno != EEXIST)
            throw Exception(SystemReason(errno));
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw Exception(SystemReason(errno));
    return fd;
}

std::optional<TRecorded> Read(const QString &record)
{
    QFile file(record);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QList<QByteArray> fields = file.read(3 * PATH_MAX).split('\0');
    // Four fields, each ended: the last piece after the last zero is empty.
    if (fields.size() != 5 || fields[0] != RecordMark || !fields[4].isEmpty()) return std::nullopt;
    bool number = false;
    const qint64 size = fields[3].toLongLong(&number);
    if (!number || size < 0 || fields[1].isEmpty() || fields[2].isEmpty()) return std::nullopt;
    return TRecorded{QFile::decodeName(fields[1]), QFile::decodeName(fields[2]), size};
}

bool SameBytes(const QString &a, const QString &b)
{
    QFile first(a), second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size()) return false;
    constexpr qint64 Piece = qint64(1) << 20;
    while (!first.atEnd()) {
        const QByteArray piece = first.read(Piece);
        if (piece.isEmpty() || piece != second.read(Piece)) return false;
    }
    return true;
}

// Whether the copy keeps an old picture its file may no longer hold. A copy
// cut short by the kill, or one whose file was never touched, is of no more
// use and goes.
bool Unfinished(const TRecorded &save)
{
    const QByteArray copy = QFile::encodeName(save.copy);
    struct stat st;
    if (!IsCopyName(save.copy) || ::lstat(copy.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size < save.oldSize || SameBytes(save.copy, save.file)) {
        ::unlink(copy.constData());
        return false;
    }
    return true;
}

} // namespace

QString UnfinishedSavesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/picture-workbench/unfinished-saves");
}

QString CopyNameFor(const QString &folder, const QString &fileName)
{
    const QFileInfo info(fileName);
    QString base = info.completeBaseName();
    const QString tail = QStringLiteral(".old-") + RandomLetters(6) + (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
    while (!base.isEmpty() && QFile::encodeName(QLatin1Char('.') + base + tail).size() > NAME_MAX) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate()) base.chop(1);
    }
    return folder + QStringLiteral("/.") + base + tail;
}

TSaveRecord::TSaveRecord(const QString &fileName, const QString &copy, std::uint64_t oldSize) : folder_(OpenedFolder())
{
    int held;
    do held = ::flock(folder_.Get(), LOCK_SH);
    while (held != 0 && errno == EINTR);
    if (held != 0) throw Exception(SystemReason(errno));
    QByteArray content;
    for (const QByteArray &field : {RecordMark, QFile::encodeName(QFileInfo(fileName).absoluteFilePath()),
                                    QFile::encodeName(copy), QByteArray::number(qulonglong(oldSize))})
        content += field + '\0';
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
        path_ = UnfinishedSavesFolder() + QLatin1Char('/') + RandomLetters(12) + QStringLiteral(".record");
        fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw Exception(SystemReason(errno));
    TDescriptor record(fd);
    int error = WriteFully(record.Get(), content.constData(), std::size_t(content.size()));
    if (!error && ::fsync(record.Get()) != 0) error = errno;
    if (!error) error = record.Close();
    if (!error) error = SyncFolder(folder_.Get());
    if (error) {
        ::unlink(QFile::encodeName(path_).constData());
        throw Exception(SystemReason(error));
    }
}

TSaveRecord::~TSaveRecord() { ::unlink(QFile::encodeName(path_).constData()); }

void CheckUnfinishedSaves()
{
    const QString folder = UnfinishedSavesFolder();
    const TDescriptor held(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Another instance holds the folder while it saves in place: its records are alive.
    if (held.Get() < 0 || ::flock(held.Get(), LOCK_EX | LOCK_NB) != 0) return;
    QStringList notices;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.record")}, QDir::Files | QDir::Hidden, QDir::Name)) {
        const QString record = folder + QLatin1Char('/') + name;
        if (const std::optional<TRecorded> save = Read(record); save && Unfinished(*save))
            notices << QStringLiteral("The program ended before it finished saving %1, which may hold only part of the new "
                                      "picture. The picture it held before is kept in %2.")
                           .arg(QuotedPath(save->file), QuotedPath(save->copy));
        ::unlink(QFile::encodeName(record).constData());
    }
    if (!notices.isEmpty()) throw Exception(notices.join(QStringLiteral("\n\n")));
}
