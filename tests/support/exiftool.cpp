// ExifTool: the independent writer and reader of EXIF and XMP the tests judge ours by.
#include "support/exiftool.h"

#include "support/disk_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <optional>

namespace {

QString Exiftool() { return QStandardPaths::findExecutable(QStringLiteral("exiftool")); }

// ExifTool's standard output, or none when it fails.
std::optional<QByteArray> Run(const QStringList &arguments, const QString &folder = {})
{
    QProcess process;
    if (!folder.isEmpty()) process.setWorkingDirectory(folder);
    process.start(Exiftool(), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

bool ExiftoolFound() { return !Exiftool().isEmpty(); }

QByteArray ExiftoolMade(const QString &extension, const QStringList &arguments)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("made.") + extension);
    if (!Run(QStringList{QStringLiteral("-q"), QStringLiteral("-o"), path} + arguments)) return {};
    return FileBytes(path);
}

QByteArray ExiftoolEdited(const QByteArray &file, const QString &extension, const QStringList &arguments,
                          const QList<QPair<QString, QByteArray>> &files)
{
    QTemporaryDir folder;
    const QString name = QStringLiteral("edited.") + extension;
    PutFile(folder.filePath(name), file);
    for (const auto &other : files) PutFile(folder.filePath(other.first), other.second);
    if (!Run(QStringList{QStringLiteral("-q"), QStringLiteral("-overwrite_original")} + arguments + QStringList{name}, folder.path())) return {};
    return FileBytes(folder.filePath(name));
}

QByteArray ExiftoolProfile(const QByteArray &file, const QString &extension)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("read.") + extension);
    PutFile(path, file);
    return Run({QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-icc_profile"), path}).value_or(QByteArray());
}

QJsonObject ExiftoolRead(const QByteArray &piece, const QString &extension)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("read.") + extension);
    PutFile(path, piece);
    const std::optional<QByteArray> json = Run({QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-G1"), path});
    return json ? QJsonDocument::fromJson(*json).array().at(0).toObject() : QJsonObject();
}
