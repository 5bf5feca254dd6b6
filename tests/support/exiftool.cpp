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
std::optional<QByteArray> Run(const QStringList &arguments)
{
    QProcess process;
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

QJsonObject ExiftoolRead(const QByteArray &piece, const QString &extension)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("read.") + extension);
    PutFile(path, piece);
    const std::optional<QByteArray> json = Run({QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-G1"), path});
    return json ? QJsonDocument::fromJson(*json).array().at(0).toObject() : QJsonObject();
}
