// Pillow and ImageMagick: writers of picture files other than ours.
#include "support/independent_writers.h"

#include "support/disk_files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// Debian's interpreter: the one python3-pil installs Pillow for (one on
// the PATH may be a build of its own without it).
const QString Python = QStringLiteral("/usr/bin/python3");

bool Runs(const QString &program, const QStringList &arguments, const QString &folder = {})
{
    QProcess process;
    if (!folder.isEmpty()) process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

bool PillowFound()
{
    static const bool found = QFileInfo::exists(Python) && Runs(Python, {QStringLiteral("-c"), QStringLiteral("import PIL.Image")});
    return found;
}

bool ImageMagickFound() { return !QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty(); }

QByteArray PillowWritten(int width, int height, const QString &extension, const QString &options, const QString &mode)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("made.") + extension);
    const QString script = QStringLiteral(
        "import sys\n"
        "from PIL import Image\n"
        "w, h = %1, %2\n"
        "im = Image.new('RGB', (w, h))\n"
        "im.putdata([((x * 251 // max(1, w - 1)), (y * 241 // max(1, h - 1)), (x * 7 + y * 13) % 256) for y in range(h) for x in range(w)])\n"
        "im.convert('%3').save(sys.argv[1]%4)\n")
                               .arg(width)
                               .arg(height)
                               .arg(mode, options.isEmpty() ? QString() : QStringLiteral(", ") + options);
    if (!Runs(Python, {QStringLiteral("-c"), script, path})) return {};
    return FileBytes(path);
}

QByteArray PillowUpright(const QByteArray &file, const QString &extension)
{
    QTemporaryDir folder;
    const QString input = folder.filePath(QStringLiteral("input.") + extension), output = folder.filePath(QStringLiteral("upright.png"));
    PutFile(input, file);
    const QString script = QStringLiteral(
        "import sys\n"
        "from PIL import Image, ImageOps\n"
        "ImageOps.exif_transpose(Image.open(sys.argv[1])).convert('RGB').save(sys.argv[2])\n");
    if (!Runs(Python, {QStringLiteral("-c"), script, input, output})) return {};
    return FileBytes(output);
}

QByteArray ImageMagickConverted(const QByteArray &input, const QString &inputExtension, const QStringList &arguments, const QString &outputForm,
                                const QList<QPair<QString, QByteArray>> &files)
{
    QTemporaryDir folder;
    PutFile(folder.filePath(QStringLiteral("input.") + inputExtension), input);
    for (const auto &file : files) PutFile(folder.filePath(file.first), file.second);
    const QString output = folder.filePath(QStringLiteral("output"));
    if (!Runs(QStringLiteral("convert"), QStringList{QStringLiteral("input.") + inputExtension} + arguments + QStringList{outputForm + QLatin1Char(':') + output},
              folder.path()))
        return {};
    return FileBytes(output);
}
